#pragma once
// The queue of keepers whose DBMS status changed since the last report,
// each with the status it had before its first unreported change.
//
// A full select changes every keeper's status in one turn, so the queue
// holds no node per keeper: it is a vector of keeper pointers, and each
// keeper carries a NotifyMark (3 bytes that fit in room its layout already
// has) with its place in the vector and its old status. A keeper queued
// again keeps its first old status. A keeper that goes away while queued
// leaves a null in its place, found through the mark without a search, so
// that taking a large tree down stays linear; the keeper queued last (what
// a destructor's own status change leaves) is simply dropped from the end.
// A new keeper at the freed address is a new entry with a mark of its own.
//
// Drained, the queue keeps room for kKeptRoom keepers, what the changes of
// a usual turn need; the room of a larger burst goes back to the heap.
//
// Keeper needs `id()` and a `notifyMark()` (returning NotifyMark&) that the
// queue can reach. Main thread only.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "error/check.h"
#include "keepers/radix_sort.h"

namespace keepers {

// A keeper's place in the queue and its old status: 20 bits of position
// plus one (0: not queued) and 4 bits of status (statuses are 0 to 13).
class NotifyMark {
 public:
  static constexpr std::uint32_t kMaxStatus = 15;
  // Positions from kFar - 1 on are not stored: a keeper there is searched
  // for from kFar - 1 on.
  static constexpr std::uint32_t kFar = (1u << 20) - 1;

  [[nodiscard]] bool queued() const { return place() != 0; }
  [[nodiscard]] std::uint32_t old() const { return bits_[2] >> 4; }
  // The lowest position the keeper can be at.
  [[nodiscard]] std::size_t position() const { return place() - 1; }
  [[nodiscard]] bool exact() const { return place() != kFar; }

  void set(std::size_t position, std::uint32_t old) {
    HX_CHECK(old <= kMaxStatus, "Status " + std::to_string(old) + " out of range");
    const std::uint32_t place =
        position + 1 < kFar ? static_cast<std::uint32_t>(position + 1) : kFar;
    store(place | old << 20);
  }
  void reset() { store(0); }

 private:
  [[nodiscard]] std::uint32_t place() const { return load() & kFar; }
  [[nodiscard]] std::uint32_t load() const {
    return bits_[0] | static_cast<std::uint32_t>(bits_[1]) << 8 |
           static_cast<std::uint32_t>(bits_[2]) << 16;
  }
  void store(std::uint32_t v) {
    bits_[0] = static_cast<std::uint8_t>(v);
    bits_[1] = static_cast<std::uint8_t>(v >> 8);
    bits_[2] = static_cast<std::uint8_t>(v >> 16);
  }

  std::uint8_t bits_[3] = {0, 0, 0};
};

template <class Keeper>
class NotifyQueue {
 public:
  NotifyQueue() = default;
  NotifyQueue(const NotifyQueue&) = delete;
  NotifyQueue& operator=(const NotifyQueue&) = delete;

  // Queues `keeper` with the status it had before its change; a keeper
  // already queued keeps the old status it was queued with.
  void insert(Keeper& keeper, std::uint32_t old) {
    NotifyMark& mark = keeper.notifyMark();
    if (mark.queued()) return;
    entries_.push_back(&keeper);
    mark.set(entries_.size() - 1, old);
    ++live_;
  }

  // Takes `keeper` out: it will not be notified, and the queue does not
  // touch it again. Nothing when it is not queued.
  void erase(Keeper& keeper) {
    NotifyMark& mark = keeper.notifyMark();
    if (!mark.queued()) return;
    std::size_t at = mark.position();
    if (!mark.exact() && at < entries_.size()) {
      const auto found =
          std::find(entries_.begin() + static_cast<std::ptrdiff_t>(at), entries_.end(), &keeper);
      at = static_cast<std::size_t>(found - entries_.begin());
    }
    HX_CHECK(at < entries_.size() && entries_[at] == &keeper,
             "notify_queue lost the place of a keeper");
    entries_[at] = nullptr;
    while (!entries_.empty() && entries_.back() == nullptr) entries_.pop_back();
    mark.reset();
    --live_;
  }

  // The number of queued keepers.
  [[nodiscard]] std::size_t size() const { return live_; }
  [[nodiscard]] bool empty() const { return live_ == 0; }

  // Empties the queue and calls notify(keeper, old) for every keeper that
  // was in it: in id order, so that a replayed input gives the same output
  // whatever the keepers' addresses. Keepers queued by `notify` wait for
  // the next drain; `notify` must not destroy a keeper. If it throws, the
  // keepers after the one it threw for are dropped unnotified.
  template <class Notify>
  void drain(Notify&& notify) {
    if (live_ == 0) {
      release();
      return;
    }
    std::vector<Keeper*> taken;
    taken.swap(entries_);
    live_ = 0;
    if (taken.size() > 1) {
      std::erase(taken, nullptr);
      const auto byId = [](const Keeper* a, const Keeper* b) { return a->id() < b->id(); };
      // Through the pointers, not beside a copy of each id: the copies
      // would cost 24 B per keeper at the memory peak of a full select.
      // A turn's few changes often come in id order already. After a full
      // select every keeper is here, and a sort by bytes reads each id a
      // few times instead of at every step of a comparison sort.
      if (!std::is_sorted(taken.begin(), taken.end(), byId)) {
        radixSort(
            taken, [](const Keeper* keeper) { return idKey(keeper->id()); }, byId);
      }
    }
    {
      // Should `notify` throw (a send to a process that is gone), the
      // keepers not notified yet are dropped with the rest of the turn, and
      // their marks must not point into the queue when they are destroyed.
      std::size_t next = 0;
      struct Unmark {
        std::vector<Keeper*>& taken;
        std::size_t& next;
        ~Unmark() {
          for (; next < taken.size(); ++next) taken[next]->notifyMark().reset();
        }
      } unmark{taken, next};
      while (next < taken.size()) {
        Keeper& keeper = *taken[next++];
        NotifyMark& mark = keeper.notifyMark();
        const std::uint32_t old = mark.old();
        mark.reset();
        notify(keeper, old);
      }
    }
    // The room of this drain serves the next turn unless it was a burst.
    if (entries_.empty() && taken.capacity() <= kKeptRoom) {
      taken.clear();
      entries_.swap(taken);
    }
  }

  // Empties the queue without notifying.
  void clear() {
    for (Keeper* keeper : entries_) {
      if (keeper != nullptr) keeper->notifyMark().reset();
    }
    live_ = 0;
    release();
  }

  static constexpr std::size_t kKeptRoom = 4096;
  // How many keepers the queue holds without allocating.
  [[nodiscard]] std::size_t capacity() const { return entries_.capacity(); }

 private:
  void release() {
    entries_.clear();
    if (entries_.capacity() > kKeptRoom) std::vector<Keeper*>().swap(entries_);
  }

  std::vector<Keeper*> entries_;  // null where a keeper was erased
  std::size_t live_ = 0;
};

}  // namespace keepers
