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
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R", "nodes": [{"label": "n"}, {"label": "n"}]}})"),
            "t.json: /tree/nodes/1/label: R already has a child labelled \"n\"; labels must "
            "differ among siblings");
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R", "nodes": [{"label": "n", "dependsOn": ["m"]}]}})"),
            "t.json: /tree/nodes/0/dependsOn/0: no object \"m\": R has no child labelled \"m\" "
            "(its children: n)");
  EXPECT_EQ(errorOf(R"({"tree": {"label": "R", "plans": [{"weekly": [{"days": [
                         {"day": "Monday", "events": []}]}]}]}})"),
            "t.json: /tree/plans/0/weekly/0/days/0/day: expected a weekday in lower case "
            "(\"monday\" ... \"sunday\"), found \"Monday\"");
}

TEST(ParseScenarioErrors, ActionsAreCheckedAgainstTheTreeAtTheirTime) {
  // Named before it is added.
  EXPECT_EQ(errorOf(withTimeline(R"(
      {"at": 1, "do": "state", "object": "web01/Services/TLS", "state": "warn"},
      {"at": 2, "do": "add", "parent": "web01/Services", "check": {"label": "TLS"}})")),
            "t.json: /timeline/0/object: no object \"web01/Services/TLS\": web01 / Services has "
            "no child labelled \"TLS\" (its children: HTTP)");
  EXPECT_EQ(errorOf(withTimeline(R"(
      {"at": 1, "do": "delete", "object": "web01/Services"},
      {"at": 2, "do": "state", "object": "web01/Services/HTTP", "state": "warn"})")),
            "t.json: /timeline/1/object: no object \"web01/Services/HTTP\": web01 has no child "
            "labelled \"Services\" (it has no children)");
  EXPECT_EQ(
      errorOf(withTimeline(R"({"at": 1, "do": "add", "parent": "/", "check": {"label": "x"}})")),
      "t.json: /timeline/0/check: a check cannot be placed under a domain (Root)");
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
