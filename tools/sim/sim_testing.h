#pragma once
// Test-only helpers for the simulator's tests: a select pattern shaped like
// the alarm process's, and an observer that writes every record down.
#include <string>
#include <vector>

#include "queues/tql_values.h"
#include "sim/report.h"
#include "tql/property.h"
#include "tql/schema.h"

namespace sim::testing {

inline tql::pattern_t patternNode(std::uint32_t cls, std::int32_t flags,
                                  std::set<std::uint32_t> wanted = {},
                                  std::vector<tql::pattern_t> next = {}) {
  tql::pattern_t p;
  p.class_ = cls;
  p.flags = flags;
  p.wanted_properties = std::move(wanted);
  p.next = std::move(next);
  return p;
}

// Domains (nesting) with plans and nodes; nodes with plans and check groups
// (nesting); active checks with plans and accumulations.
inline tql::pattern_t alarmLikePattern() {
  namespace cls = tql::cls;
  namespace prop = tql::prop;
  const auto plan = [] {
    return patternNode(
        cls::Plan, 2, {},
        {patternNode(cls::ExpectedEvent, 2), patternNode(cls::UnexpectedEvent, 2),
         patternNode(cls::WeekPlanner, 2, {},
                     {patternNode(cls::DayPlanner, 2, {}, {patternNode(cls::Event, 2)})})});
  };
  const std::set<std::uint32_t> checkProps = {prop::active, prop::longLabel, prop::warnScore};
  tql::pattern_t check = patternNode(cls::Check, 4, checkProps,
                                     {plan(), patternNode(cls::CheckAccumulation, 4, checkProps)});
  check.where.emplace_back(std::make_unique<tql::property_boolean_t>(prop::active, true),
                           tql::kRelEqual);
  tql::pattern_t group = patternNode(cls::CheckGroup, 1, {prop::siblingName}, {std::move(check)});
  tql::pattern_t node =
      patternNode(cls::Node, 4, {prop::checkinFrequency, prop::warn}, {plan(), std::move(group)});
  return patternNode(cls::Domain, 1, {prop::dependsOn}, {plan(), std::move(node)});
}

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
