#pragma once
// Test-only helpers for the simulator's tests: an observer that writes every
// record down. The tests select with the alarm process's own pattern
// (halarm::subscriptionPattern).
#include <string>
#include <vector>

#include "sim/report.h"

namespace sim::testing {

// Every record as one line of text, in order.
class RecordingObserver : public Observer {
 public:
  std::vector<std::string> lines;
  std::vector<StatusChange> changes;
  std::optional<FinalReport> final;

  void started(const Scenario&, const std::string& program, std::int32_t mask) override {
    lines.push_back("start " + program + " " + std::to_string(mask));
  }
  void note(double, const std::string& text) override { lines.push_back("note " + text); }
  void action(double, const std::string& text) override { lines.push_back("action " + text); }
  void log(double, std::uint32_t level, const std::string& text) override {
    lines.push_back("log " + std::to_string(level) + " " + text);
  }
  void statusChange(const StatusChange& c) override {
    changes.push_back(c);
    lines.push_back("status " + c.path);
  }
  void problem(double, const std::string& text) override { lines.push_back("problem " + text); }
  void alarmOutput(double, const std::string& text) override { lines.push_back("output " + text); }
  void finished(const FinalReport& report) override { final = report; }

  bool has(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
};

}  // namespace sim::testing
