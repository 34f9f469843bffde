#pragma once
// A queue of object ids for the delayed pass, taken out smallest id first.
// An id queued again before it is taken out is taken out once; queued again
// after that, it comes out again. That is what an ordered set drained from
// its front gives, without a tree node per id: the first full select queues
// every keeper, and the ids arrive mostly in ascending order, which a binary
// heap takes at the cost of an append.
//
// Main thread only.
#include <algorithm>
#include <cstddef>
#include <functional>
#include <vector>

#include "error/check.h"
#include "tql/id.h"

namespace keepers {

class IdQueue {
 public:
  void insert(const tql::id_t& id) {
    heap_.push_back(id);
    std::push_heap(heap_.begin(), heap_.end(), std::greater<>());
  }

  [[nodiscard]] bool empty() const { return heap_.empty(); }

  // Removes the smallest queued id, every copy of it, and returns it.
  tql::id_t takeFirst() {
    HX_CHECK(!heap_.empty(), "IdQueue::takeFirst on an empty queue");
    const tql::id_t first = heap_.front();
    do {
      std::pop_heap(heap_.begin(), heap_.end(), std::greater<>());
      heap_.pop_back();
    } while (!heap_.empty() && heap_.front() == first);
    return first;
  }

  // Empties the queue; its room stays for the next burst.
  void clear() { heap_.clear(); }

  // The queued ids in ascending order, each once.
  [[nodiscard]] std::vector<tql::id_t> ids() const {
    std::vector<tql::id_t> sorted = heap_;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    return sorted;
  }

 private:
  std::vector<tql::id_t> heap_;  // a min-heap, duplicates allowed
};

}  // namespace keepers
