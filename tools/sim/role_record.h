#pragma once
// What the main process of a simulation and its role processes (the DBMS
// and the alert process, when they run apart from it) tell each other
// besides the alarm's own events: one record per SYSTEM_LOG_REQUEST, whose
// text is one JSON object.
//
//   {"record": "action", "t": 2.5, "text": "web01 / HTTP: state alert"}
//   {"record": "problem", "t": 3, "text": "dbms got ..."}
//   {"record": "start", "sec": 1700000000, "usec": 250000}
//   {"record": "perform", "action": "/timeline/3"}
//
// A role reports what it did and what went wrong (action, problem) and the
// moment the run started (start: when the DBMS answered the alarm's first
// select, so that every process counts offsets from the same moment); the
// main process orders the DBMS to carry out a timeline action, named by its
// place in the scenario (perform).
#include <string>

#include "htime/usec_time.h"
#include "queues/event.h"

namespace sim {

struct RoleRecord {
  enum class Kind { action, problem, start, perform };
  Kind kind = Kind::action;
  double t = 0;            // action, problem: seconds since the start
  std::string text;        // action, problem
  htime::usec_time start;  // start
  std::string action;      // perform: the action's place ("/timeline/3")

  bool operator==(const RoleRecord&) const = default;
};

std::string recordText(const RoleRecord& record);
// Throws error::EFatal with what is wrong when `text` is not a record.
RoleRecord parseRecord(const std::string& text);

// The record as an event addressed to `dest`, and back. readRecord throws
// error::EFatal for an event that is not a record or does not decode.
queues::EventPtr recordEvent(const RoleRecord& record, queues::queue_t dest);
bool isRecord(const queues::event& ev);
RoleRecord readRecord(const queues::event& ev);

}  // namespace sim
