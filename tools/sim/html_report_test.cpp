#include "sim/html_report.h"

#include <gtest/gtest.h>

#include <sstream>

#include "sim/sim_testing.h"

namespace sim {
namespace {

using Spans = std::vector<std::tuple<double, double, std::uint32_t>>;

StatusChange change(double t, tql::id_t id, std::string path, std::string node, std::uint32_t from,
                    std::uint32_t to, std::string incident = {}, std::string user = {},
                    std::string verb = {}, std::string comment = {}) {
  return {t, id, path, node, from, to, incident, user, verb, comment};
}

Spans spansOf(const TimelineRow& row) {
  Spans spans;
  for (const StatusSpan& s : row.spans) spans.emplace_back(s.from, s.to, s.status);
  return spans;
}

TEST(EscapeHtml, WritesMarkupCharactersAsReferencesAndBlanksControls) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"(a<b>c&d"e'f)", "a&lt;b&gt;c&amp;d&quot;e&#39;f"},
      {"&amp;", "&amp;amp;"},
      {"tab\tline\nend", "tab\tline\nend"},
      {std::string("nul\0bell\adel\177", 13), "nul bell del "},
      {"Zürich — ✓", "Zürich — ✓"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(escapeHtml(in), out) << in;
}

TEST(TimelineRows, StatusSpansAndMarksFollowTheChangesOfEachObject) {
  const tql::id_t a{1, 1};
  const tql::id_t b{1, 2};
  const std::vector<StatusChange> changes = {
      change(0.5, a, "n", "n", 0, 1),
      change(0.5, b, "n / c", "n", 0, 1),
      change(3, b, "n / c", "n", 1, 13, "Check state changed to ALERT"),
      change(3, b, "n / c", "n", 13, 9),
      change(5, b, "n / c", "n", 9, 8),
      change(6, b, "n / c", "n", 8, 8, "", "bob"),
      change(7, b, "n / c", "n", 8, 1, "acknowledged", "alice", "acknowledged", "fixed"),
      change(12, a, "n", "n", 1, 12),
  };
  const std::vector<FinalStatus> finals = {{"n", a, 12, "n"}, {"n / c", b, 1, "n"}};
  const std::vector<NodeRows> groups = timelineRows(changes, finals, 10);
  ASSERT_EQ(groups.size(), 1u);
  ASSERT_EQ(groups[0].rows.size(), 2u);
  // Before the first change: its old status. A change past the end is cut
  // off at the end.
  EXPECT_EQ(spansOf(groups[0].rows[0]), (Spans{{0, 0.5, 0}, {0.5, 10, 1}}));
  // Two changes at one moment leave no empty span; a change to the same
  // status does not split a span.
  EXPECT_EQ(spansOf(groups[0].rows[1]),
            (Spans{{0, 0.5, 0}, {0.5, 3, 1}, {3, 5, 9}, {5, 7, 8}, {7, 10, 1}}));
  std::vector<std::tuple<double, std::string, std::string>> marks;
  for (const ObjectMark& m : groups[0].rows[1].marks) marks.emplace_back(m.t, m.kind, m.text);
  EXPECT_EQ(marks, (std::vector<std::tuple<double, std::string, std::string>>{
                       {3, "incident", "Check state changed to ALERT"},
                       {6, "user", "by bob"},
                       {7, "incident", "acknowledged"},
                       {7, "acknowledged", "acknowledged by alice: \"fixed\""}}));
}

TEST(TimelineRows, RowsAreGroupedByNodeInTreeOrderWithGoneObjectsLast) {
  const tql::id_t web{1, 1}, http{1, 2}, db{1, 3}, sql{1, 4}, old{1, 5}, moved{1, 6},
      exported{1, 7};
  // Changes come in any order; a check's change may arrive before its
  // node's.
  const std::vector<StatusChange> changes = {
      change(1, sql, "db / SQL", "db", 0, 1),      change(1, http, "web / HTTP", "web", 0, 1),
      change(1, old, "web / Old", "web", 0, 1),    change(1, moved, "web / Moving", "web", 0, 1),
      change(1, web, "web", "web", 0, 1),          change(2, old, "web / Old", "web", 1, 0),
      change(2, exported, "Export", "Acme", 0, 1),
  };
  const std::vector<FinalStatus> finals = {
      {"web", web, 1, "web"},     {"web / HTTP", http, 1, "web"},  {"db", db, 1, "db"},
      {"db / SQL", sql, 1, "db"}, {"db / Moving", moved, 1, "db"}, {"Export", exported, 1, "Acme"},
  };
  const std::vector<NodeRows> groups = timelineRows(changes, finals, 3);
  std::vector<std::pair<std::string, std::vector<std::string>>> layout;
  for (const NodeRows& g : groups) {
    layout.push_back({g.node, {}});
    for (const TimelineRow& r : g.rows) layout.back().second.push_back(r.path);
  }
  // A moved object is named and grouped where it ended up; an object that
  // no longer exists keeps its last path and still has its row.
  EXPECT_EQ(layout, (std::vector<std::pair<std::string, std::vector<std::string>>>{
                        {"web", {"web", "web / HTTP", "web / Old"}},
                        {"db", {"db", "db / SQL", "db / Moving"}},
                        {"Acme", {"Export"}}}));
  EXPECT_EQ(spansOf(groups[0].rows[2]), (Spans{{0, 1, 0}, {1, 2, 1}, {2, 3, 0}}));
  EXPECT_TRUE(groups[0].rows[2].gone);
  EXPECT_FALSE(groups[0].rows[1].gone);
  // An object that never changed has its final status throughout.
  EXPECT_EQ(spansOf(groups[1].rows[0]), (Spans{{0, 3, 1}}));
}

// The page of a whole run, with texts that would break the markup if they
// went in unescaped.
TEST(HtmlPage, TextsCannotBreakTheMarkupAndEverySpanIsOneElementWithItsFacts) {
  const Scenario scenario = parseScenario(
      R"({"title": "T <b>", "duration": 4, "tree": {"label": "R", "nodes": [
          {"label": "n\"1", "checks": [{"label": "<img src=x>"}]}]}})",
      "t.json");
  std::ostringstream out;
  std::unique_ptr<Observer> report = makeHtmlReport(out);
  report->started(scenario, "alarm", 0);
  report->note(1, "note </title>");
  report->action(1, "action & more");
  report->statusChange(
      change(2, tql::id_t{1, 2}, "n\"1 / <img src=x>", "n\"1", 1, 13, "incident '<x>'"));
  FinalReport final;
  final.t = 4;
  final.objects = {{"n\"1", tql::id_t{1, 1}, 1, "n\"1"},
                   {"n\"1 / <img src=x>", tql::id_t{1, 2}, 13, "n\"1"}};
  report->finished(final);
  const std::string html = out.str();

  for (const char* raw : {"<img", "<b>", "note </title>", "action & more", "'<x>'", "n\"1"}) {
    EXPECT_EQ(html.find(raw), std::string::npos) << raw;
  }
  for (const char* expected :
       {"data-path=\"n&quot;1 / &lt;img src=x&gt;\" data-id=\"1.2\"", "T &lt;b&gt;",
        "note &lt;/title&gt;", "action &amp; more", "incident &#39;&lt;x&gt;&#39;",
        "data-status=\"GOOD\" data-from=\"0.000\" data-to=\"2.000\"",
        "data-status=\"ALERT\" data-from=\"2.000\" data-to=\"4.000\"",
        "data-kind=\"incident\" data-t=\"2.000\""}) {
    EXPECT_NE(html.find(expected), std::string::npos) << expected;
  }
  std::size_t rows = 0;
  for (auto at = html.find("class=\"row\""); at != std::string::npos;
       at = html.find("class=\"row\"", at + 1)) {
    ++rows;
  }
  EXPECT_EQ(rows, 2u);
}

TEST(FanOut, EveryObserverGetsEveryRecordInOrder) {
  testing::RecordingObserver first;
  testing::RecordingObserver second;
  std::unique_ptr<Observer> both = makeFanOut({&first, &second});
  both->note(1, "n");
  both->action(2, "a");
  both->log(3, 0, "l");
  both->problem(4, "p");
  both->alarmOutput(5, "o");
  both->statusChange(change(6, tql::id_t{1, 1}, "x", "x", 0, 1));
  both->finished(FinalReport{});
  const std::vector<std::string> expected = {"note n",    "action a", "log 0 l",
                                             "problem p", "output o", "status x"};
  for (const testing::RecordingObserver* o : {&first, &second}) {
    EXPECT_EQ(o->lines, expected);
    EXPECT_TRUE(o->final.has_value());
  }
}

}  // namespace
}  // namespace sim
