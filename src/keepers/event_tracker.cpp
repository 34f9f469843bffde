#include "keepers/event_tracker.h"

#include "keepers/run_state.h"

namespace keepers {

EventTrackerOwner::~EventTrackerOwner() { touched.erase(this); }

void EventTrackerOwner::touch() { touched.insert(this); }

BoundaryRecord::~BoundaryRecord() { cancel(*this); }

void reschedule(BoundaryRecord& record, htime::usec_time at) {
  // Unchanged: keep its place among entries of equal time.
  if (at == record.time_) return;
  cancel(record);
  record.time_ = at;
  if (at == htime::never) return;
  record.entry_ = boundaries.emplace(at, &record);
}

void cancel(BoundaryRecord& record) {
  if (record.time_ == htime::never) return;
  boundaries.erase(record.entry_);
  record.time_ = htime::never;
}

BoundaryRecord* first() { return boundaries.empty() ? nullptr : boundaries.begin()->second; }

}  // namespace keepers
