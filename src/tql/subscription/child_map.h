#pragma once
// The children of a mirrored object by id: a vector of (id, value) pairs
// kept sorted by id, offering what the mirror and its users need of
// std::map's interface.
//
// A mirror holds one entry per object; a std::map spends a 64-byte node
// (three pointers, a colour, the key and the value) and an allocation on
// each. Here an entry is the key and the value side by side. Children
// mostly arrive in id order, so insertion with the end hint appends.
// Inserting or erasing in the middle moves the later entries and
// invalidates iterators at and after that place.
#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <utility>
#include <vector>

#include "tql/id.h"

namespace tql {

template <class V>
class ChildMap {
 public:
  using value_type = std::pair<id_t, V>;
  using iterator = typename std::vector<value_type>::iterator;
  using const_iterator = typename std::vector<value_type>::const_iterator;

  iterator begin() noexcept { return entries_.begin(); }
  iterator end() noexcept { return entries_.end(); }
  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }
  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }

  iterator find(const id_t& id) noexcept {
    const auto it = lowerBound(id);
    return it != entries_.end() && it->first == id ? it : entries_.end();
  }
  const_iterator find(const id_t& id) const noexcept {
    return const_cast<ChildMap&>(*this).find(id);
  }
  bool contains(const id_t& id) const noexcept { return find(id) != end(); }
  V& at(const id_t& id) {
    const auto it = find(id);
    if (it == end()) throw std::out_of_range("no child " + id.toString());
    return it->second;
  }
  const V& at(const id_t& id) const { return const_cast<ChildMap&>(*this).at(id); }

  // Makes room for n entries at once, so a map built from a known number of
  // children holds no unused room.
  void reserve(std::size_t n) { entries_.reserve(n); }

  // Inserts (id, value) unless id is there already; then `value` is left
  // untouched. Returns the entry of id and whether it was inserted. The
  // hint only makes appending at the end cheap; any hint gives the same
  // result.
  std::pair<iterator, bool> try_emplace(const_iterator /*hint*/, const id_t& id, V&& value) {
    if (entries_.empty() || entries_.back().first < id) {
      entries_.emplace_back(id, std::move(value));
      return {entries_.end() - 1, true};
    }
    const auto it = lowerBound(id);
    if (it != entries_.end() && it->first == id) return {it, false};
    return {entries_.emplace(it, id, std::move(value)), true};
  }
  std::pair<iterator, bool> try_emplace(const id_t& id, V&& value) {
    return try_emplace(end(), id, std::move(value));
  }

  iterator erase(const_iterator it) { return entries_.erase(it); }
  std::size_t erase(const id_t& id) {
    const auto it = find(id);
    if (it == end()) return 0;
    entries_.erase(it);
    return 1;
  }
  void clear() noexcept { entries_.clear(); }
  void swap(ChildMap& other) noexcept { entries_.swap(other.entries_); }

 private:
  iterator lowerBound(const id_t& id) noexcept {
    return std::lower_bound(entries_.begin(), entries_.end(), id,
                            [](const value_type& e, const id_t& k) { return e.first < k; });
  }

  std::vector<value_type> entries_;
};

}  // namespace tql
