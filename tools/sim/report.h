#pragma once
// What a simulation run tells its user, and the two ways of telling it: a
// live timeline for people (one line per status change, with the object's
// path, old and new status, the incident text and who acted; log lines and
// the simulated siblings' actions dimmed; a table of final statuses at the
// end) and a machine-readable log of the same records, one JSON object per
// line.
#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "sim/link.h"
#include "sim/scenario.h"
#include "tql/id.h"

namespace sim {

struct StatusChange {
  double t = 0;  // seconds since the start of the run
  tql::id_t object;
  std::string path;  // "HQ / web01 / HTTP", or the id when the object is unknown
  // The display path of the node the object is or belongs to ("HQ / web01");
  // for an object outside every node (a domain export), its domain's; the
  // object's own path when it is unknown.
  std::string node;
  std::uint32_t oldStatus = 0;
  std::uint32_t newStatus = 0;
  std::string incident;  // the incident-log text written with the change, if any
  std::string user;      // who caused it, by name; empty when nobody did
  std::string verb;      // "acknowledged", "reset" or empty, for `user`
  std::string comment;
};

struct FinalStatus {
  std::string path;
  tql::id_t id;
  std::uint32_t status = 0;
  std::string node;  // as in StatusChange
};

struct FinalReport {
  double t = 0;  // when the run ended
  std::vector<FinalStatus> objects;
  AlarmEnd alarm;
  std::vector<std::string> unmet;  // expectations that did not hold
  std::size_t expectations = 0;
};

// Records of a run, in the order they happen.
class Observer {
 public:
  virtual ~Observer() = default;
  virtual void started(const Scenario& scenario, const std::string& program,
                       std::int32_t logMask) = 0;
  // A line of the scenario's narration.
  virtual void note(double t, const std::string& text) = 0;
  // Something a simulated sibling did.
  virtual void action(double t, const std::string& text) = 0;
  // A log line the alarm process sent to the main process.
  virtual void log(double t, std::uint32_t level, const std::string& text) = 0;
  virtual void statusChange(const StatusChange& change) = 0;
  // Something that went wrong or was unexpected.
  virtual void problem(double t, const std::string& text) = 0;
  // A line of the alarm process's error output.
  virtual void alarmOutput(double t, const std::string& line) = 0;
  virtual void finished(const FinalReport& report) = 0;
};

struct TextOptions {
  bool color = false;  // ANSI colours and dim text
  bool quiet = false;  // no live timeline: problems and the final table only
};

// The timeline for people. Objects that appear GOOD together (the first
// reports after start-up) are folded into one line.
std::unique_ptr<Observer> makeTextReport(std::ostream& out, TextOptions options);

// One JSON object per line: {"event": "status", "t": 9.25, ...}.
std::unique_ptr<Observer> makeJsonReport(std::ostream& out);

// Passes every record to each of the observers, in the order given. They
// must outlive the returned one.
std::unique_ptr<Observer> makeFanOut(std::vector<Observer*> observers);

// Counts of final statuses by name, worst first.
std::vector<std::pair<std::string, std::size_t>> countByStatus(
    const std::vector<FinalStatus>& objects);

}  // namespace sim
