#include "sim/html_report.h"

#include <gtest/gtest.h>

#include <sstream>

#include "sim/sim_testing.h"

namespace sim {
namespace {

StatusChange change(double t, tql::id_t id, const std::string& path, const std::string& node,
                    std::uint32_t from, std::uint32_t to) {
  StatusChange c;
  c.t = t;
  c.object = id;
  c.path = path;
  c.node = node;
  c.oldStatus = from;
  c.newStatus = to;
  return c;
}

std::vector<std::tuple<double, double, std::uint32_t>> spansOf(const TimelineRow& row) {
  std::vector<std::tuple<double, double, std::uint32_t>> spans;
  for (const StatusSpan& s : row.spans) spans.emplace_back(s.from, s.to, s.status);
  return spans;
}

using Spans = std::vector<std::tuple<double, double, std::uint32_t>>;

TEST(EscapeHtml, WritesMarkupCharactersAsReferencesAndBlanksControls) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain text", "plain text"},
      {"a < b > c", "a &lt; b &gt; c"},
      {"R&D", "R&amp;D"},
      {"&amp;", "&amp;amp;"},
      {R"(say "hi")", "say &quot;hi&quot;"},
      {"it's", "it&#39;s"},
      {"</title><script>x()</script>", "&lt;/title&gt;&lt;script&gt;x()&lt;/script&gt;"},
      {"tab\tline\nend", "tab\tline\nend"},
      {std::string("nul\0bell\x07"
                   "del\x7f",
                   13),
       "nul bell del "},
      {"Zürich — ✓", "Zürich — ✓"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(escapeHtml(in), out) << in;
}

TEST(TimelineRows, StatusSpansFollowTheChangesOfEachObject) {
  const tql::id_t a{1, 1};
  const tql::id_t b{1, 2};
  const std::vector<StatusChange> changes = {
      change(0.5, a, "n", "n", 0, 1),    change(0.5, b, "n / c", "n", 0, 1),
      change(3, b, "n / c", "n", 1, 13), change(3, b, "n / c", "n", 13, 9),
      change(5, b, "n / c", "n", 9, 8),  change(6, b, "n / c", "n", 8, 8),
      change(7, b, "n / c", "n", 8, 1),  change(12, a, "n", "n", 1, 12),
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
}

TEST(TimelineRows, ObjectThatNeverChangedShowsItsFinalStatusThroughout) {
  const std::vector<FinalStatus> finals = {{"n", tql::id_t{1, 4}, 11, "n"}};
  const std::vector<NodeRows> groups = timelineRows({}, finals, 4);
  ASSERT_EQ(groups.size(), 1u);
  ASSERT_EQ(groups[0].rows.size(), 1u);
  EXPECT_EQ(groups[0].rows[0].id, "1.4");
  EXPECT_EQ(spansOf(groups[0].rows[0]), (Spans{{0, 4, 11}}));
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
    std::vector<std::string> paths;
    for (const TimelineRow& r : g.rows) paths.push_back(r.path);
    layout.emplace_back(g.node, paths);
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
  EXPECT_EQ(spansOf(groups[1].rows[0]), (Spans{{0, 3, 1}}));  // never changed
}

TEST(TimelineRows, IncidentsAndUserActionsBecomeMarksOnTheirRow) {
  const tql::id_t id{1, 2};
  StatusChange alert = change(2, id, "n / c", "n", 1, 13);
  alert.incident = "Check state changed to ALERT";
  StatusChange ack = change(4, id, "n / c", "n", 13, 1);
  ack.incident = "acknowledged";
  ack.user = "alice";
  ack.verb = "acknowledged";
  ack.comment = "fixed";
  StatusChange reset = change(5, id, "n / c", "n", 1, 1);
  reset.user = "bob";
  const std::vector<NodeRows> groups = timelineRows({alert, ack, reset}, {}, 6);
  ASSERT_EQ(groups.size(), 1u);
  ASSERT_EQ(groups[0].rows.size(), 1u);
  std::vector<std::tuple<double, std::string, std::string>> marks;
  for (const ObjectMark& m : groups[0].rows[0].marks) marks.emplace_back(m.t, m.kind, m.text);
  EXPECT_EQ(marks, (std::vector<std::tuple<double, std::string, std::string>>{
                       {2, "incident", "Check state changed to ALERT"},
                       {4, "incident", "acknowledged"},
                       {4, "acknowledged", "acknowledged by alice: \"fixed\""},
                       {5, "user", "by bob"}}));
}

// The page of a whole run, with texts that would break the markup if they
// went in unescaped.
class HtmlPageTest : public ::testing::Test {
 protected:
  std::string page() {
    const Scenario scenario = parseScenario(
        R"({"title": "T <b>", "duration": 4, "tree": {"label": "R", "nodes": [
            {"label": "n\"1", "checks": [{"label": "<img src=x>"}]}]}})",
        "t.json");
    std::ostringstream out;
    std::unique_ptr<Observer> report = makeHtmlReport(out);
    report->started(scenario, "alarm", 0);
    report->note(1, "note </title>");
    report->action(1, "action & more");
    StatusChange c = change(2, tql::id_t{1, 2}, "n\"1 / <img src=x>", "n\"1", 1, 13);
    c.incident = "incident '<x>'";
    report->statusChange(c);
    FinalReport final;
    final.t = 4;
    final.objects = {{"n\"1", tql::id_t{1, 1}, 1, "n\"1"},
                     {"n\"1 / <img src=x>", tql::id_t{1, 2}, 13, "n\"1"}};
    report->finished(final);
    return out.str();
  }
};

TEST_F(HtmlPageTest, TextsOfTheRunCannotBreakTheMarkup) {
  const std::string html = page();
  for (const char* raw : {"<img", "<b>", "note </title>", "action & more", "'<x>'", "n\"1"}) {
    EXPECT_EQ(html.find(raw), std::string::npos) << raw;
  }
  for (const char* escaped :
       {"data-path=\"n&quot;1 / &lt;img src=x&gt;\"", "T &lt;b&gt;", "note &lt;/title&gt;",
        "action &amp; more", "incident &#39;&lt;x&gt;&#39;"}) {
    EXPECT_NE(html.find(escaped), std::string::npos) << escaped;
  }
}

TEST_F(HtmlPageTest, EveryStatusSpanIsOneElementWithItsFacts) {
  const std::string html = page();
  EXPECT_NE(html.find("data-status=\"GOOD\" data-from=\"0.000\" data-to=\"2.000\""),
            std::string::npos);
  EXPECT_NE(html.find("data-status=\"ALERT\" data-from=\"2.000\" data-to=\"4.000\""),
            std::string::npos);
  EXPECT_NE(html.find("data-kind=\"incident\" data-t=\"2.000\""), std::string::npos);
  std::size_t rows = 0;
  for (std::size_t at = html.find("class=\"row\""); at != std::string::npos;
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
  EXPECT_EQ(first.lines, expected);
  EXPECT_EQ(second.lines, expected);
  EXPECT_TRUE(first.final.has_value());
  EXPECT_TRUE(second.final.has_value());
}

}  // namespace
}  // namespace sim
