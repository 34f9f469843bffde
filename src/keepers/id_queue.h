#pragma once
// A queue of object ids for the delayed pass, taken out smallest id first.
// An id queued again before it is taken out is taken out once; queued again
// after that, it comes out again. That is what an ordered set drained from
// its front gives, without a tree node per id.
//
// The delayed pass fills a queue (the first full select puts every keeper
// in it) and then drains it to the end before it queues anything again.
// So new ids are appended unsorted and sorted once, when the first of them
// is taken out; the ids then come out of one sorted run front to back. An
// id queued while a run is being taken out is merged into what remains of
// the run, which costs the length of the rest.
//
// Drained, the queue keeps room for kKeptRoom ids, what the changes of a
// usual turn need; the room of a larger burst goes back to the heap at
// once, so that it is not held through the rest of the turn and for good.
//
// Main thread only.
#include <algorithm>
#include <cstddef>
#include <functional>
#include <iterator>
#include <vector>

#include "error/check.h"
#include "keepers/radix_sort.h"
#include "tql/id.h"

namespace keepers {

class IdQueue {
 public:
  void insert(const tql::id_t& id) { pending_.push_back(id); }

  [[nodiscard]] bool empty() const { return next_ == run_.size() && pending_.empty(); }

  // The smallest queued id, left in the queue.
  const tql::id_t& first() {
    if (!pending_.empty()) takePending();
    HX_CHECK(next_ < run_.size(), "IdQueue::first on an empty queue");
    return run_[next_];
  }

  // Removes the smallest queued id, every copy of it, and returns it.
  tql::id_t takeFirst() {
    if (!pending_.empty()) takePending();
    HX_CHECK(next_ < run_.size(), "IdQueue::takeFirst on an empty queue");
    const tql::id_t first = run_[next_];
    while (next_ < run_.size() && run_[next_] == first) ++next_;
    if (next_ == run_.size() && pending_.empty()) drained();
    return first;
  }

  // Empties the queue.
  void clear() {
    pending_.clear();
    drained();
  }

  static constexpr std::size_t kKeptRoom = 4096;
  // How many ids the queue holds without allocating.
  [[nodiscard]] std::size_t capacity() const { return run_.capacity() + pending_.capacity(); }

  // The queued ids in ascending order, each once.
  [[nodiscard]] std::vector<tql::id_t> ids() const {
    std::vector<tql::id_t> sorted(run_.begin() + static_cast<std::ptrdiff_t>(next_), run_.end());
    sorted.insert(sorted.end(), pending_.begin(), pending_.end());
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    return sorted;
  }

 private:
  // Sorts the appended ids into the run.
  void takePending() {
    radixSort(pending_, idKey, std::less<tql::id_t>());
    if (next_ == run_.size()) {
      run_.swap(pending_);
    } else {
      std::vector<tql::id_t> merged;
      merged.reserve(run_.size() - next_ + pending_.size());
      std::merge(run_.begin() + static_cast<std::ptrdiff_t>(next_), run_.end(), pending_.begin(),
                 pending_.end(), std::back_inserter(merged));
      run_.swap(merged);
    }
    pending_.clear();
    next_ = 0;
  }

  // Nothing queued: the run starts again and a burst's room goes.
  void drained() {
    run_.clear();
    next_ = 0;
    if (run_.capacity() > kKeptRoom) std::vector<tql::id_t>().swap(run_);
    if (pending_.capacity() > kKeptRoom) std::vector<tql::id_t>().swap(pending_);
  }

  std::vector<tql::id_t> run_;  // sorted; ids before next_ are taken out
  std::size_t next_ = 0;
  std::vector<tql::id_t> pending_;  // queued since the run was sorted
};

}  // namespace keepers
