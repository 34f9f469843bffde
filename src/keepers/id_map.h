#pragma once
// A map from object id to a non-null pointer, stored flat: one array of
// (id, pointer) slots with open addressing and linear probing. Looking a
// keeper up costs one hashed index and usually one cache line, where a
// node-based map costs a chain of dependent loads; there is no allocation
// per entry. A null pointer marks a free slot, so null cannot be stored.
//
// Iteration visits the entries in slot order, which says nothing about the
// ids; any change to the map invalidates iterators.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "error/check.h"
#include "tql/id.h"

namespace keepers {

template <class T>
class IdMap {
 public:
  using value_type = std::pair<tql::id_t, T*>;

  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = IdMap::value_type;
    using difference_type = std::ptrdiff_t;
    using pointer = const value_type*;
    using reference = const value_type&;

    iterator() = default;
    reference operator*() const { return *slot_; }
    pointer operator->() const { return slot_; }
    iterator& operator++() {
      ++slot_;
      skipFree();
      return *this;
    }
    iterator operator++(int) {
      iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const iterator&, const iterator&) = default;

   private:
    friend class IdMap;
    iterator(const value_type* slot, const value_type* end) : slot_(slot), end_(end) { skipFree(); }
    void skipFree() {
      while (slot_ != end_ && slot_->second == nullptr) ++slot_;
    }
    const value_type* slot_ = nullptr;
    const value_type* end_ = nullptr;
  };
  using const_iterator = iterator;

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  [[nodiscard]] iterator begin() const { return {slots_.data(), slots_.data() + slots_.size()}; }
  [[nodiscard]] iterator end() const {
    return {slots_.data() + slots_.size(), slots_.data() + slots_.size()};
  }

  // The pointer stored under `id`, or null.
  [[nodiscard]] T* get(const tql::id_t& id) const {
    if (size_ == 0) return nullptr;
    for (std::size_t i = home(id);; i = (i + 1) & mask_) {
      const value_type& slot = slots_[i];
      if (slot.second == nullptr) return nullptr;
      if (slot.first == id) return slot.second;
    }
  }
  [[nodiscard]] bool contains(const tql::id_t& id) const { return get(id) != nullptr; }

  // Stores `value` under `id`, replacing what was there.
  void insert_or_assign(const tql::id_t& id, T* value) {
    HX_CHECK(value != nullptr, "IdMap cannot store a null pointer for " + id.toString());
    // At most three quarters full, so that a search meets a free slot soon.
    if ((size_ + 1) * 4 > slots_.size() * 3) grow();
    std::size_t i = home(id);
    while (slots_[i].second != nullptr && !(slots_[i].first == id)) i = (i + 1) & mask_;
    if (slots_[i].second == nullptr) {
      slots_[i].first = id;
      ++size_;
    }
    slots_[i].second = value;
  }

  // Removes the entry of `id`, if any; true when there was one.
  bool erase(const tql::id_t& id) {
    if (size_ == 0) return false;
    std::size_t i = home(id);
    for (;; i = (i + 1) & mask_) {
      if (slots_[i].second == nullptr) return false;
      if (slots_[i].first == id) break;
    }
    // Backward shift: entries after the hole that would no longer be found
    // from their home slot move into it, so no tombstones are needed.
    for (std::size_t j = (i + 1) & mask_; slots_[j].second != nullptr; j = (j + 1) & mask_) {
      const std::size_t h = home(slots_[j].first);
      // Moves when its home is not cyclically within (i, j].
      if (((j - h) & mask_) >= ((j - i) & mask_)) {
        slots_[i] = slots_[j];
        i = j;
      }
    }
    slots_[i] = value_type{};
    --size_;
    return true;
  }

  // Empties the map and gives its storage back.
  void clear() {
    slots_ = {};
    mask_ = 0;
    shift_ = 64;
    size_ = 0;
  }

 private:
  [[nodiscard]] std::size_t home(const tql::id_t& id) const {
    // Fibonacci hashing: the top bits of the product spread neighbouring
    // ids over the whole table.
    return static_cast<std::size_t>(
        (static_cast<std::uint64_t>(id.hash()) * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  void grow() {
    const std::size_t capacity = slots_.empty() ? 16 : slots_.size() * 2;
    std::vector<value_type> old = std::exchange(slots_, std::vector<value_type>(capacity));
    mask_ = capacity - 1;
    shift_ = 64 - std::countr_zero(capacity);
    size_ = 0;
    for (const value_type& slot : old) {
      if (slot.second != nullptr) insert_or_assign(slot.first, slot.second);
    }
  }

  std::vector<value_type> slots_;
  std::size_t mask_ = 0;
  int shift_ = 64;
  std::size_t size_ = 0;
};

}  // namespace keepers
