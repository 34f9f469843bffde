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
#include <map>
#include <set>
#include <vector>

#include "htime/usec_time.h"
#include "keepers/node_pool.h"
#include "tql/id.h"

namespace keepers {

class BoundaryRecord;

// Earlier times first, by seconds then microseconds.
struct TimeOrder {
  bool operator()(const htime::usec_time& a, const htime::usec_time& b) const {
    return a.sec != b.sec ? a.sec < b.sec : a.usec < b.usec;
  }
};

// The schedule of wake-up times; entries of equal time keep insertion order.
// Re-arming a wake-up erases one entry and inserts another: the nodes are
// recycled.
using Boundaries = std::multimap<htime::usec_time, BoundaryRecord*, TimeOrder,
                                 NodePool<std::pair<const htime::usec_time, BoundaryRecord*>>>;

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
  static constexpr std::size_t kNotTouched = SIZE_MAX;
  std::size_t touched_at_ = kNotTouched;  // the place in `touched`
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
    owner->touched_at_ = owners_.size();
    owners_.push_back(owner);
  }
  // Unmarks the owner; nothing when it is not marked.
  void erase(EventTrackerOwner* owner) {
    const std::size_t at = owner->touched_at_;
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
    std::sort(taken.begin(), taken.end(), std::less<EventTrackerOwner*>());
    return taken;
  }
  // Unmarks every owner.
  void clear() { takeAll(); }

 private:
  std::vector<EventTrackerOwner*> owners_;
};

// One wake-up of an owner: its time (never when not scheduled) and its place
// in `boundaries`. The owner holds its records as members, so a record never
// outlives its owner; destruction cancels it.
class BoundaryRecord {
 public:
  explicit BoundaryRecord(EventTrackerOwner& owner) : owner_(&owner) {}
  ~BoundaryRecord();
  BoundaryRecord(const BoundaryRecord&) = delete;
  BoundaryRecord& operator=(const BoundaryRecord&) = delete;

  EventTrackerOwner& owner() const { return *owner_; }
  htime::usec_time time() const { return time_; }

 private:
  friend void reschedule(BoundaryRecord& record, htime::usec_time at);
  friend void cancel(BoundaryRecord& record);

  EventTrackerOwner* owner_;
  htime::usec_time time_ = htime::never;
  Boundaries::iterator entry_{};  // meaningful only while scheduled
};

// Moves the record to `at`. The same time again keeps its place among equal
// times; never takes it off the schedule.
void reschedule(BoundaryRecord& record, htime::usec_time at);
// Takes the record off the schedule.
void cancel(BoundaryRecord& record);
// The earliest scheduled record, or null.
BoundaryRecord* first();

}  // namespace keepers
