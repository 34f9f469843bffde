#pragma once
// An index from object id to a (not owned) object: an open-addressing hash
// table with linear probing, keys and pointers side by side in one array.
//
// It indexes mirrors of a million objects. A node-based hash map costs two
// or three cache misses per insertion and one allocation per entry there,
// which dominated building a mirror; here a lookup or insertion touches one
// slot (and its neighbours) and nothing is allocated except when the table
// doubles. Erasing shifts the following entries back, so there are no
// tombstones and lookups stay short however many objects come and go.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tql/id.h"

namespace tql {

template <class T>
class IdIndex {
 public:
  // One slot; a null `value` marks it empty.
  struct Entry {
    id_t id;
    T* value = nullptr;
  };

  // Iterates over the entries in slot order (no particular id order).
  class const_iterator {
   public:
    const Entry& operator*() const { return *at_; }
    const Entry* operator->() const { return at_; }
    const_iterator& operator++() {
      ++at_;
      skipEmpty();
      return *this;
    }
    friend bool operator==(const const_iterator&, const const_iterator&) = default;

   private:
    friend class IdIndex;
    const_iterator(const Entry* at, const Entry* end) : at_(at), end_(end) { skipEmpty(); }
    void skipEmpty() {
      while (at_ != end_ && at_->value == nullptr) ++at_;
    }
    const Entry* at_;
    const Entry* end_;
  };

  IdIndex() = default;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const_iterator begin() const { return {slots_.data(), slots_.data() + slots_.size()}; }
  const_iterator end() const {
    const Entry* e = slots_.data() + slots_.size();
    return {e, e};
  }

  // The value indexed under `id`, or null.
  T* find(const id_t& id) const {
    if (slots_.empty()) return nullptr;
    for (std::size_t i = home(id);; i = next(i)) {
      const Entry& e = slots_[i];
      if (e.value == nullptr) return nullptr;
      if (e.id == id) return e.value;
    }
  }

  // Indexes `value` (not null) under `id`, replacing what was there.
  void assign(const id_t& id, T* value) {
    if ((size_ + 1) * 4 > slots_.size() * 3) grow();
    for (std::size_t i = home(id);; i = next(i)) {
      Entry& e = slots_[i];
      if (e.value == nullptr) {
        e = {id, value};
        ++size_;
        return;
      }
      if (e.id == id) {
        e.value = value;
        return;
      }
    }
  }

  // Removes `id` when it indexes `value`; returns whether it did.
  bool eraseIf(const id_t& id, const T* value) {
    if (slots_.empty()) return false;
    for (std::size_t i = home(id);; i = next(i)) {
      const Entry& e = slots_[i];
      if (e.value == nullptr) return false;
      if (e.id != id) continue;
      if (e.value != value) return false;
      eraseAt(i);
      return true;
    }
  }

  // Makes room for `n` entries without growing again.
  void reserve(std::size_t n) {
    std::size_t capacity = slots_.empty() ? kMinSlots : slots_.size();
    while (n * 4 > capacity * 3) capacity *= 2;
    if (capacity != slots_.size()) rehash(capacity);
  }

  void clear() {
    slots_.clear();
    size_ = 0;
  }

 private:
  static constexpr std::size_t kMinSlots = 16;

  // Fibonacci hashing of the id's own hash: the top bits of the product
  // depend on every bit of the id.
  std::size_t home(const id_t& id) const {
    return static_cast<std::size_t>((id.hash() * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  std::size_t next(std::size_t i) const { return (i + 1) & (slots_.size() - 1); }

  void grow() { rehash(slots_.empty() ? kMinSlots : slots_.size() * 2); }

  void rehash(std::size_t capacity) {
    std::vector<Entry> old(capacity);
    old.swap(slots_);
    shift_ = 64 - std::countr_zero(capacity);
    size_ = 0;
    for (const Entry& e : old) {
      if (e.value != nullptr) assign(e.id, e.value);
    }
  }

  // Backward-shift deletion: every later entry of the same run whose home
  // is not between the hole and itself moves into the hole.
  void eraseAt(std::size_t hole) {
    for (std::size_t i = next(hole);; i = next(i)) {
      Entry& e = slots_[i];
      if (e.value == nullptr) break;
      const std::size_t h = home(e.id);
      const bool stays = hole <= i ? (hole < h && h <= i) : (hole < h || h <= i);
      if (stays) continue;
      slots_[hole] = e;
      hole = i;
    }
    slots_[hole] = Entry{};
    --size_;
  }

  std::vector<Entry> slots_;
  std::size_t size_ = 0;
  int shift_ = 64;
};

}  // namespace tql
