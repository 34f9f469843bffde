#pragma once
// The downtime calendar of one plan: whether the plan is in force now, when
// that answer next changes, and which element of the plan decides it.
//
// A plan's children are its elements: day planners (every local day), week
// planners (named weekdays), date planners (one date), expected events (an
// announced window) and unexpected events (down from now until an end).
// Planners hold entries with `startTime` and `duration` in seconds from the
// day's start. Only windows starting from today's local midnight are tried,
// so a window that began yesterday and runs past midnight no longer counts.
// Days after today are today's midnight plus whole multiples of 86400 s.
//
// The work is one pass over the plan's elements; daily and weekly kinds cost
// a handful of local-time conversions per evaluation, not per element.
#include "htime/usec_time.h"
#include "queues/tql_values.h"

namespace keepers {

struct PlanIntervals {
  bool in_force = false;
  // When the answer next changes: the end of the window in force, else the
  // earliest start still to come; `never` when there is none.
  htime::usec_time next_change = htime::never;
  // The entry or event whose window decided: the window in force, else the
  // one that starts at next_change. Points into the plan's tree; null when
  // nothing is in force or to come.
  const tql::object_t* deciding = nullptr;
  bool nothing_in_force = true;  // always !in_force
};

// Evaluates `plan` (a node of class Plan) at htime::now(). A plan that is
// missing or of another class fails the internal check "get_plan_intervals:
// illegal plan parameter". An element of another class throws error::EFatal
// "Illegal subclass of Plan"; a missing, null or mistyped property throws
// errors::tql. Of several windows in force the first in child order decides.
PlanIntervals get_plan_intervals(const tql::object_t* plan);

}  // namespace keepers
