#include "sim/report.h"

#include <gtest/gtest.h>

#include <sstream>

namespace sim {
namespace {

StatusChange change(double t, const std::string& path, std::uint32_t from, std::uint32_t to) {
  StatusChange c;
  c.t = t;
  c.path = path;
  c.oldStatus = from;
  c.newStatus = to;
  return c;
}

class TextReportTest : public ::testing::Test {
 protected:
  void start(bool quiet = false) {
    report_ = makeTextReport(out_, {false, quiet});
    scenario_ = parseScenario(R"({"title": "T", "duration": 9, "tree": {"label": "R",
        "nodes": [{"label": "web01", "groups": [{"label": "S", "checks": [{"label": "HTTP"}]}]}]}})",
                              "t.json");
    report_->started(scenario_, "alarm", 0);
    out_.str("");
  }

  std::ostringstream out_;
  Scenario scenario_;
  std::unique_ptr<Observer> report_;
};

TEST_F(TextReportTest, ObjectsComingUpGoodTogetherAreOneLineEvenAcrossLogLines) {
  start();
  report_->statusChange(change(0, "a", 0, 1));
  report_->log(0, 0, "Sent 1 status notifications");
  report_->statusChange(change(0, "b", 0, 1));
  report_->statusChange(change(0.1, "c", 0, 1));
  report_->note(3, "something happens");
  report_->statusChange(change(5, "d", 0, 1));
  report_->statusChange(change(6, "e", 0, 12));
  EXPECT_EQ(out_.str(),
            "    0.0s  log: Sent 1 status notifications\n"
            "    0.0s  3 objects reported GOOD\n"
            "    3.0s  == something happens\n"
            "    5.0s  d                 NA -> GOOD\n"
            "    6.0s  e                 NA -> WARN\n");
}

TEST_F(TextReportTest, QuietShowsOnlyProblemsAndTheEnd) {
  start(true);
  report_->note(1, "n");
  report_->log(1, 0, "l");
  report_->action(1, "a");
  report_->statusChange(change(2, "web01", 1, 13));
  report_->problem(3, "p");
  EXPECT_EQ(out_.str(), "    3.0s  !! p\n");
}

}  // namespace
}  // namespace sim
