#pragma once
// An allocator for the node-based containers that every state change
// writes to (`notify_queue`). They gain and lose entries all the time: a
// state change inserts a few and each turn of the main loop drains them.
// Freed nodes go onto a free list per node type and are handed out again,
// so the steady state costs no trips to the heap. The list keeps at most
// kMaxFree nodes: after a burst (the first full select changes every
// keeper's status) the rest go back to the heap rather than stay reserved
// for good.
//
// Main thread only, like the containers it serves.
#include <cstddef>
#include <memory>

namespace keepers {

template <class T>
class NodePool {
 public:
  using value_type = T;

  NodePool() noexcept = default;
  template <class U>
  NodePool(const NodePool<U>&) noexcept {}

  static constexpr std::size_t kMaxFree = 4096;

  T* allocate(std::size_t n) {
    if (n == 1 && free_ != nullptr) {
      FreeNode* node = free_;
      free_ = node->next;
      --free_count_;
      return reinterpret_cast<T*>(node);
    }
    return std::allocator<T>().allocate(n);
  }

  void deallocate(T* p, std::size_t n) noexcept {
    if (n != 1 || free_count_ >= kMaxFree) {
      std::allocator<T>().deallocate(p, n);
      return;
    }
    static_assert(sizeof(T) >= sizeof(void*) && alignof(T) >= alignof(void*),
                  "pooled nodes must be able to hold a free-list link");
    auto* node = reinterpret_cast<FreeNode*>(p);
    node->next = free_;
    free_ = node;
    ++free_count_;
  }

  template <class U>
  friend bool operator==(const NodePool&, const NodePool<U>&) noexcept {
    return true;
  }

 private:
  struct FreeNode {
    FreeNode* next;
  };
  static inline FreeNode* free_ = nullptr;
  static inline std::size_t free_count_ = 0;
};

}  // namespace keepers
