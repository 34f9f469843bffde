#include "sim/scenario.h"

#include <gtest/gtest.h>

#include "sim/demo_scenario.h"
#include "tql/property_access.h"
#include "tql/schema.h"

namespace sim {
namespace {

Scenario parse(const std::string& document) { return parseScenario(document, "t.json"); }

std::string errorOf(const std::string& document) {
  try {
    parse(document);
  } catch (const EScenario& e) {
    return e.text();
  }
  return "(no error)";
}

// A tree with one node holding one check in a group, and the given timeline.
std::string withTimeline(const std::string& timeline) {
  return R"({"tree": {"label": "Root", "nodes": [{"label": "web01", "groups": [
             {"label": "Services", "checks": [{"label": "HTTP"}]}]}]},
             "timeline": [)" +
         timeline + "]}";
}

const ObjectSpec& child(const ObjectSpec& desc, std::size_t i) { return desc.children.at(i); }

struct PropertyHolder {
  std::uint32_t class_ = 0;
  const std::map<std::uint32_t, tql::property_ptr>& properties;
};

PropertyHolder holder(const ObjectSpec& desc) {
  return {kindInfo(desc.kind).classNumber, desc.properties.values};
}

TEST(ParseScenario, FillsEveryPropertyTheAlarmReadsWithTypedDefaults) {
  const Scenario s = parse(withTimeline(""));
  EXPECT_EQ(s.root.id, tql::id_t({0, 1}));
  const ObjectSpec& node = child(s.root, 0);
  const ObjectSpec& group = child(node, 0);
  const ObjectSpec& check = child(group, 0);
  EXPECT_EQ(tql::getUint(holder(node), tql::prop::checkinFrequency), 300u);
  EXPECT_EQ(tql::getEnum(holder(node), tql::prop::alertStrategy, 0), 0u);
  EXPECT_EQ(tql::getInt(holder(node), tql::prop::warnCeiling), 80);
  EXPECT_TRUE(tql::findProperty(holder(node), tql::prop::stationLocale)->isNull);
  EXPECT_EQ(node.properties.dependsOn, std::vector<std::string>{});
  EXPECT_TRUE(node.initialCheckin);
  EXPECT_EQ(node.lateState, 3u);
  EXPECT_FALSE(node.state.has_value());
  EXPECT_EQ(tql::getString(holder(group), tql::prop::siblingName), "Services");
  EXPECT_TRUE(tql::getBoolean(holder(check), tql::prop::active));
  EXPECT_EQ(tql::getString(holder(check), tql::prop::longLabel), "HTTP");
  EXPECT_EQ(tql::getUint(holder(check), tql::prop::checkType), 0u);
  EXPECT_EQ(check.state, 0u);
}

TEST(ParseScenario, ReadsReadableValuesOfEachForm) {
  const Scenario s = parse(R"({"tree": {"label": "Root",
      "exports": [{"label": "Station", "gid": 7, "state": "warn"}],
      "nodes": [{"label": "n", "alertStrategy": "score", "checkinFrequency": null,
                 "lateState": "warn", "initialCheckin": false,
                 "plans": [{"expected": [{"from": 5, "until": 9.5}],
                            "weekly": [{"days": [{"day": "monday",
                                "events": [{"start": "22:30", "duration": 3600}]}]}]}]}]}})");
  const ObjectSpec& station = child(s.root, 0);
  EXPECT_EQ(station.kind, Kind::domainExport);
  EXPECT_EQ(station.state, 2u);
  const ObjectSpec& node = child(s.root, 1);
  EXPECT_EQ(tql::getEnum(holder(node), tql::prop::alertStrategy, 0), 1u);
  EXPECT_TRUE(tql::findProperty(holder(node), tql::prop::checkinFrequency)->isNull);
  EXPECT_EQ(node.lateState, 2u);
  EXPECT_FALSE(node.initialCheckin);
  const ObjectSpec& plan = child(node, 0);
  EXPECT_EQ(plan.label, "plan");
  const ObjectSpec& expected = child(plan, 0);
  EXPECT_EQ(expected.properties.relative.at(tql::prop::startTime), 5.0);
  EXPECT_EQ(expected.properties.relative.at(tql::prop::endTime), 9.5);
  const ObjectSpec& day = child(child(plan, 1), 0);
  EXPECT_EQ(day.label, "monday");
  EXPECT_EQ(tql::getString(holder(day), tql::prop::name), "monday");
  EXPECT_EQ(tql::getInt(holder(child(day, 0)), tql::prop::startTime), 22 * 3600 + 30 * 60);
}

TEST(ParseScenario, TimelineIsOrderedByTimeKeepingFileOrderAndEndsAtTheEndAction) {
  const Scenario s = parse(withTimeline(R"(
      {"at": 5, "do": "note", "text": "b"},
      {"at": 2, "do": "note", "text": "a"},
      {"at": 5, "do": "note", "text": "c"},
      {"at": 8, "do": "end"},
      {"at": 9, "do": "note", "text": "after the end"})"));
  ASSERT_EQ(s.timeline.size(), 5u);
  EXPECT_EQ(s.timeline[0].text, "a");
  EXPECT_EQ(s.timeline[1].text, "b");
  EXPECT_EQ(s.timeline[2].text, "c");
  EXPECT_EQ(s.endsAt, 8);
  EXPECT_EQ(parse(withTimeline(R"({"at": 3, "do": "note", "text": "x"})")).endsAt, 5);
  EXPECT_EQ(parse(R"({"duration": 12, "tree": {"label": "R"}})").endsAt, 12);
}

TEST(ParseScenario, ActionsKeepWhatTheyNeed) {
  const Scenario s = parse(withTimeline(R"(
      {"at": 1, "do": "states", "states": {"web01/Services/HTTP": "alert", "web01": "warn"}},
      {"at": 2, "do": "reset", "object": "web01", "user": "bob", "recursive": true},
      {"at": 3, "do": "add", "parent": "web01/Services", "check": {"label": "TLS"}},
      {"at": 4, "do": "set", "object": "web01/Services/TLS", "properties": {"active": false}},
      {"at": 5, "do": "move", "object": "web01/Services/TLS", "to": "web01"})"));
  const Action& states = s.timeline[0];
  ASSERT_EQ(states.states.size(), 2u);
  EXPECT_EQ(states.states[0], std::make_pair(std::string("web01/Services/HTTP"), 3u));
  EXPECT_EQ(states.states[1], std::make_pair(std::string("web01"), 2u));
  EXPECT_TRUE(s.timeline[1].recursive);
  EXPECT_EQ(s.timeline[2].added->kind, Kind::check);
  EXPECT_EQ(s.timeline[4].target, "web01");
}

TEST(ParseScenario, TheShippedDemonstrationIsValid) {
  const Scenario s = parseScenario(kDemoScenario, kDemoScenarioName);
  EXPECT_LE(s.endsAt, 60);
  EXPECT_FALSE(s.expect.empty());
}

// --- Bad scenarios: file, place and problem. ---

TEST(ParseScenarioErrors, SyntaxErrorsGiveLineAndColumn) {
  EXPECT_EQ(errorOf("{\n  \"tree\": {\"label\": \"R\",}\n}"),
            "t.json: parse error at line 2, column 25: syntax error while parsing object key - "
            "unexpected '}'; expected string literal");
}

TEST(ParseScenarioErrors, MembersAndValuesOfTheTree) {
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R", "nodes": [{"label": "n", "warn": "high"}]}})"),
            "t.json: /tree/nodes/0/warn: expected a whole number from -2147483648 to "
            "2147483647, found \"high\"");
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R", "nodes": [{"label": "n", "wran": 3}]}})"),
            "t.json: /tree/nodes/0/wran: unknown member \"wran\" of a node (members: label, id, "
            "state, initialCheckin, lateState, checkinFrequency, alertStrategy, "
            "acknowledgeAlerts, checkinScore, missedCheckinScore, warn, alert, warnCeiling, "
            "alertCeiling, dependsOn, stationLocale, groups, checks, plans)");
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R", "nodes": [{"checks": []}]}})"),
            "t.json: /tree/nodes/0: a node needs a \"label\"");
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R", "nodes": [{"label": "a/b"}]}})"),
            "t.json: /tree/nodes/0/label: a label must be non-empty, must not contain \"/\" and "
            "must not begin or end with a blank");
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R", "exports": [{"label": "x"}]}})"),
            "t.json: /tree/exports/0: a domain export needs \"gid\"");
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R", "nodes": [{"label": "n"}, {"label": "n"}]}})"),
            "t.json: /tree/nodes/1/label: R already has a child labelled \"n\"; labels must "
            "differ among siblings");
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R", "nodes": [{"label": "n", "dependsOn": ["m"]}]}})"),
            "t.json: /tree/nodes/0/dependsOn/0: no object \"m\": R has no child labelled \"m\" "
            "(its children: n)");
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R", "nodes": [{"label": "a", "id": "1.5"},
                                                         {"label": "b", "id": "1.5"}]}})"),
            "t.json: /tree/nodes/1/id: the id 1.5 is already taken");
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R", "plans": [{"weekly": [{"days": [
                         {"day": "Monday", "events": []}]}]}]}})"),
            "t.json: /tree/plans/0/weekly/0/days/0/day: expected a weekday in lower case "
            "(\"monday\" ... \"sunday\"), found \"Monday\"");
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R"}, "titel": "x"})"),
            "t.json: /titel: unknown member \"titel\" of a scenario (title, description, "
            "logMask, duration, tree, timeline, expect)");
}

TEST(ParseScenarioErrors, ActionsAreCheckedAgainstTheTreeAtTheirTime) {
  // Named before it is added.
  EXPECT_EQ(errorOf(withTimeline(R"(
      {"at": 1, "do": "state", "object": "web01/Services/TLS", "state": "warn"},
      {"at": 2, "do": "add", "parent": "web01/Services", "check": {"label": "TLS"}})")),
            "t.json: /timeline/0/object: no object \"web01/Services/TLS\": web01 / Services has "
            "no child labelled \"TLS\" (its children: HTTP)");
  // Named after it is deleted.
  EXPECT_EQ(errorOf(withTimeline(R"(
      {"at": 1, "do": "delete", "object": "web01/Services"},
      {"at": 2, "do": "state", "object": "web01/Services/HTTP", "state": "warn"})")),
            "t.json: /timeline/1/object: no object \"web01/Services/HTTP\": web01 has no child "
            "labelled \"Services\" (it has no children)");
  EXPECT_EQ(errorOf(withTimeline(R"({"at": 1, "do": "state", "object": "/", "state": "warn"})")),
            "t.json: /timeline/0/object: Root is a domain, which has no status of its own (nodes, "
            "checks, check accumulations and domain exports have)");
  EXPECT_EQ(errorOf(withTimeline(R"({"at": 1, "do": "checkin", "object": "web01/Services"})")),
            "t.json: /timeline/0/object: web01 / Services is not a node; only nodes check in");
  EXPECT_EQ(
      errorOf(withTimeline(R"({"at": 1, "do": "add", "parent": "/", "check": {"label": "x"}})")),
      "t.json: /timeline/0/check: a check cannot be placed under a domain (Root)");
  EXPECT_EQ(errorOf(withTimeline(
                R"({"at": 1, "do": "move", "object": "web01", "to": "web01/Services"})")),
            "t.json: /timeline/0/to: web01 cannot move below itself");
  EXPECT_EQ(errorOf(withTimeline(
                R"({"at": 1, "do": "set", "object": "web01", "properties": {"warnScore": 3}})")),
            "t.json: /timeline/0/properties/warnScore: a node has no property \"warnScore\" to set "
            "(properties: checkinFrequency, alertStrategy, acknowledgeAlerts, checkinScore, "
            "missedCheckinScore, warn, alert, warnCeiling, alertCeiling, dependsOn, "
            "stationLocale)");
  EXPECT_EQ(errorOf(withTimeline(R"({"at": 1, "do": "stat", "object": "web01"})")),
            "t.json: /timeline/0/do: unknown action \"stat\" (state, states, checkin, "
            "acknowledge, reset, set, add, move, delete, note, end)");
  EXPECT_EQ(errorOf(withTimeline(R"({"at": 1, "do": "state", "object": "web01", "state": "red"})")),
            "t.json: /timeline/0/state: expected a check state: \"good\", \"unknown\", \"warn\" or "
            "\"alert\", found \"red\"");
  EXPECT_EQ(errorOf(withTimeline(R"({"at": 1, "do": "note", "text": "x", "object": "web01"})")),
            "t.json: /timeline/0/object: unknown member \"object\" of a \"note\" action "
            "(members: at, do, text)");
  EXPECT_EQ(errorOf(withTimeline(R"({"at": -1, "do": "end"})")),
            "t.json: /timeline/0/at: an action cannot happen before the start (at < 0)");
}

TEST(ParseScenarioErrors, ExpectationsNameObjectsWithAStatus) {
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R"}, "expect": {"x": "GOOD"}})"),
            "t.json: /expect/x: no object \"x\": R has no child labelled \"x\" (it has no "
            "children)");
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R", "nodes": [{"label": "n"}]},
                       "expect": {"n": "FINE"}})"),
            "t.json: /expect/n: expected a status name such as \"GOOD\", \"ALERT\" or \"WARN "
            "(explained)\", found \"FINE\"");
}

}  // namespace
}  // namespace sim
