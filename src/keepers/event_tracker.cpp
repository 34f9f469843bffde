#include "keepers/event_tracker.h"

#include <algorithm>

#include "error/check.h"
#include "keepers/run_state.h"

namespace keepers {

EventTrackerOwner::~EventTrackerOwner() { touched.erase(this); }

void EventTrackerOwner::touch() { touched.insert(this); }

BoundaryRecord::~BoundaryRecord() { cancel(*this); }

// --- Boundaries ---

bool Boundaries::before(const BoundaryRecord* a, const BoundaryRecord* b) {
  if (a->time_.sec != b->time_.sec) return a->time_.sec < b->time_.sec;
  if (a->time_.usec != b->time_.usec) return a->time_.usec < b->time_.usec;
  return a->sequence_ < b->sequence_;
}

void Boundaries::place(std::size_t at, BoundaryRecord* record) {
  heap_[at] = record;
  record->place_ = static_cast<std::uint32_t>(at);
}

void Boundaries::siftUp(std::size_t at) {
  BoundaryRecord* const record = heap_[at];
  while (at > 0) {
    const std::size_t parent = (at - 1) / 2;
    if (!before(record, heap_[parent])) break;
    place(at, heap_[parent]);
    at = parent;
  }
  place(at, record);
}

void Boundaries::siftDown(std::size_t at) {
  BoundaryRecord* const record = heap_[at];
  const std::size_t n = heap_.size();
  for (;;) {
    std::size_t child = 2 * at + 1;
    if (child >= n) break;
    if (child + 1 < n && before(heap_[child + 1], heap_[child])) ++child;
    if (!before(heap_[child], record)) break;
    place(at, heap_[child]);
    at = child;
  }
  place(at, record);
}

std::uint32_t Boundaries::nextSequence() {
  if (next_sequence_ == UINT32_MAX) renumber();
  return next_sequence_++;
}

void Boundaries::renumber() {
  std::vector<BoundaryRecord*> inOrder = ordered();
  std::uint32_t n = 0;
  for (BoundaryRecord* record : inOrder) record->sequence_ = n++;
  next_sequence_ = n;
}

void Boundaries::reschedule(BoundaryRecord& record, htime::usec_time at) {
  // Unchanged: keep its place among entries of equal time.
  if (at == record.time_) return;
  if (at == htime::never) {
    cancel(record);
    return;
  }
  const bool scheduled = record.time_ != htime::never;
  // Numbered before the time changes: a renumbering sees the record at its
  // old place.
  const std::uint32_t sequence = nextSequence();
  record.time_ = at;
  record.sequence_ = sequence;
  if (!scheduled) {
    HX_CHECK(heap_.size() < BoundaryRecord::kNotScheduled, "Too many boundaries scheduled");
    heap_.push_back(&record);
    siftUp(heap_.size() - 1);
    return;
  }
  // Already in the heap: its key changed, so it moves up or down from where
  // it is, as a fresh insertion at that key would end up.
  const std::size_t from = record.place_;
  siftUp(from);
  if (record.place_ == from) siftDown(from);
}

void Boundaries::cancel(BoundaryRecord& record) {
  if (record.time_ == htime::never) return;
  const std::size_t hole = record.place_;
  HX_CHECK(hole < heap_.size() && heap_[hole] == &record,
           "Boundary record not in the schedule it is cancelled from");
  record.time_ = htime::never;
  record.place_ = BoundaryRecord::kNotScheduled;
  BoundaryRecord* const last = heap_.back();
  heap_.pop_back();
  if (last == &record) return;
  // The last record fills the hole and moves to where it belongs.
  place(hole, last);
  siftUp(hole);
  if (last->place_ == hole) siftDown(hole);
}

void Boundaries::clear() {
  for (BoundaryRecord* record : heap_) {
    record->time_ = htime::never;
    record->place_ = BoundaryRecord::kNotScheduled;
  }
  std::vector<BoundaryRecord*>().swap(heap_);
}

std::vector<BoundaryRecord*> Boundaries::ordered() const {
  std::vector<BoundaryRecord*> inOrder(heap_);
  std::sort(inOrder.begin(), inOrder.end(), &before);
  return inOrder;
}

// --- The process-wide schedule ---

void reschedule(BoundaryRecord& record, htime::usec_time at) { boundaries.reschedule(record, at); }

void cancel(BoundaryRecord& record) { boundaries.cancel(record); }

BoundaryRecord* first() { return boundaries.first(); }

}  // namespace keepers
