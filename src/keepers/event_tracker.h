#pragma once
// Wake-ups and deferred work of the keepers. A keeper that needs to run
// again later is an EventTrackerOwner: it can mark itself `touched` (its
// `process` then runs once in the next delayed pass) and it owns boundary
// records, entries in the process-wide schedule `boundaries` that the main
// loop waits on. When a record comes due, the loop finds the owner through
// its id and tells it.
//
// Everything here runs on the main thread only.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "error/check.h"
#include "htime/usec_time.h"
#include "keepers/radix_sort.h"
#include "tql/id.h"

namespace keepers {

class BoundaryRecord;

// Earlier times first, by seconds then microseconds.
struct TimeOrder {
  bool operator()(const htime::usec_time& a, const htime::usec_time& b) const {
    return a.sec != b.sec ? a.sec < b.sec : a.usec < b.usec;
  }
};

// The schedule of wake-up times (`boundaries`): an indexed binary heap of
// boundary records, earliest first; entries of equal time keep insertion
// order. Each scheduling draws the next number of a sequence and the heap
// orders by time, then by that number, which puts a record scheduled later
// behind every record already waiting for the same time. The records carry
// their time, number and place in the heap themselves, so the schedule
// costs one pointer per scheduled record and re-arming a wake-up moves the
// record within the heap without allocating.
class Boundaries {
 public:
  // firstSequence: the number of the first scheduling (tests start near
  // the end of the range to see the numbers wrap).
  explicit Boundaries(std::uint32_t firstSequence = 0) : next_sequence_(firstSequence) {}
  // Takes every record still scheduled off the schedule.
  ~Boundaries() { clear(); }
  Boundaries(const Boundaries&) = delete;
  Boundaries& operator=(const Boundaries&) = delete;

  // Moves the record to `at`. The same time again keeps its place among
  // equal times; never takes it off the schedule. Any other time puts it
  // behind the records already scheduled for that time.
  void reschedule(BoundaryRecord& record, htime::usec_time at);
  // Takes the record off the schedule; nothing when it is not on it.
  void cancel(BoundaryRecord& record);
  // The earliest scheduled record, or null.
  [[nodiscard]] BoundaryRecord* first() const { return heap_.empty() ? nullptr : heap_.front(); }

  [[nodiscard]] bool empty() const { return heap_.empty(); }
  [[nodiscard]] std::size_t size() const { return heap_.size(); }
  // Takes every record off the schedule and releases the heap's room.
  void clear();
  // The scheduled records in the order in which they come due.
  [[nodiscard]] std::vector<BoundaryRecord*> ordered() const;

 private:
  // Whether a comes due before b.
  static bool before(const BoundaryRecord* a, const BoundaryRecord* b);
  void place(std::size_t at, BoundaryRecord* record);
  void siftUp(std::size_t at);
  void siftDown(std::size_t at);
  // Numbers the scheduled records afresh from 0 in their order, when the
  // sequence would run out: their order, and so the heap, stays as it is.
  void renumber();
  std::uint32_t nextSequence();

  std::vector<BoundaryRecord*> heap_;
  std::uint32_t next_sequence_;
};

class EventTrackerOwner {
  friend class TouchedOwners;

 public:
  // Leaves `touched`, so a deleted keeper is never processed.
  virtual ~EventTrackerOwner();
  // The object id of the keeper, by which the driver finds it again.
  virtual tql::id_t ownerId() const = 0;
  // Deferred processing, run once per turn for touched owners.
  virtual void process() = 0;

  // Marks this owner for processing in the next delayed pass.
  void touch();

 protected:
  EventTrackerOwner() = default;
  EventTrackerOwner(const EventTrackerOwner&) = delete;
  EventTrackerOwner& operator=(const EventTrackerOwner&) = delete;

 private:
  static constexpr std::uint32_t kNotTouched = UINT32_MAX;
  // The place in `touched`. 32 bits: a keeper that derives from this class
  // puts its first 4-byte field in the room behind it.
  std::uint32_t touched_at_ = kNotTouched;
};

// The owners marked for processing in the next delayed pass, each once. An
// owner knows its own place here, so marking it and taking it out when it
// is destroyed cost no search and no node: the first full select marks
// every keeper. The pass takes all of them out at once, in ascending
// address order.
class TouchedOwners {
 public:
  // Marks the owner; nothing when it is marked already.
  void insert(EventTrackerOwner* owner) {
    if (owner->touched_at_ != EventTrackerOwner::kNotTouched) return;
    HX_CHECK(owners_.size() < EventTrackerOwner::kNotTouched, "Too many owners touched");
    owner->touched_at_ = static_cast<std::uint32_t>(owners_.size());
    owners_.push_back(owner);
  }
  // Unmarks the owner; nothing when it is not marked.
  void erase(EventTrackerOwner* owner) {
    const std::uint32_t at = owner->touched_at_;
    if (at == EventTrackerOwner::kNotTouched) return;
    owners_[at] = owners_.back();
    owners_[at]->touched_at_ = at;
    owners_.pop_back();
    owner->touched_at_ = EventTrackerOwner::kNotTouched;
  }
  [[nodiscard]] bool empty() const { return owners_.empty(); }
  [[nodiscard]] std::size_t size() const { return owners_.size(); }
  [[nodiscard]] bool contains(const EventTrackerOwner* owner) const {
    return owner->touched_at_ != EventTrackerOwner::kNotTouched;
  }
  // Unmarks every owner and returns them in ascending address order.
  std::vector<EventTrackerOwner*> takeAll() {
    std::vector<EventTrackerOwner*> taken;
    taken.swap(owners_);
    for (EventTrackerOwner* owner : taken) owner->touched_at_ = EventTrackerOwner::kNotTouched;
    // By bytes of the address: after a full select every keeper is here.
    radixSort(
        taken,
        [](const EventTrackerOwner* owner) {
          return RadixKey{0, reinterpret_cast<std::uintptr_t>(owner)};
        },
        std::less<EventTrackerOwner*>());
    return taken;
  }
  // Unmarks every owner.
  void clear() { takeAll(); }

 private:
  std::vector<EventTrackerOwner*> owners_;
};

// One wake-up of an owner: its time (never when not scheduled), the number
// of its scheduling and its place in `boundaries`. The owner holds its
// records as members, so a record never outlives its owner; destruction
// cancels it.
class BoundaryRecord {
 public:
  explicit BoundaryRecord(EventTrackerOwner& owner) : owner_(&owner) {}
  ~BoundaryRecord();
  BoundaryRecord(const BoundaryRecord&) = delete;
  BoundaryRecord& operator=(const BoundaryRecord&) = delete;

  EventTrackerOwner& owner() const { return *owner_; }
  htime::usec_time time() const { return time_; }

 private:
  friend class Boundaries;
  static constexpr std::uint32_t kNotScheduled = UINT32_MAX;

  EventTrackerOwner* owner_;
  htime::usec_time time_ = htime::never;
  std::uint32_t sequence_ = 0;           // meaningful only while scheduled
  std::uint32_t place_ = kNotScheduled;  // the index in the heap
};

// The operations of the process-wide schedule `boundaries`.
void reschedule(BoundaryRecord& record, htime::usec_time at);
void cancel(BoundaryRecord& record);
BoundaryRecord* first();

}  // namespace keepers
