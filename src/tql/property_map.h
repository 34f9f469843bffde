#pragma once
// The properties of one object: owned values kept in one vector sorted by
// each value's own `property` number, so the number is stored once. An
// object carries a handful of properties and a mirror holds hundreds of
// thousands of objects, so a single block of 8-byte entries per object beats
// a tree node per property in memory, allocations and cache misses; lookups
// are a binary search over a few entries.
//
// Iteration gives the owning pointers (never empty) in ascending number
// order. Offered as std::map offers them: find, lower_bound, contains,
// count, at, erase by number or position, size and equality; insertion takes
// the value alone and files it under its number. Inserting or erasing moves
// the entries after it, so iterators do not survive a change of the map (the
// values themselves stay where they are: only their owning pointers move).
// The number of a value must not be changed while the map holds it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "error/check.h"
#include "tql/property.h"

namespace tql {

class PropertyMap {
 public:
  using key_type = std::uint32_t;
  using value_type = property_ptr;
  using size_type = std::size_t;
  // Entries are reached as const pointers: the value may change, the entry
  // may not (swapping in another value could break the order).
  using const_iterator = std::vector<property_ptr>::const_iterator;
  using iterator = const_iterator;

  PropertyMap() = default;
  PropertyMap(PropertyMap&&) noexcept = default;
  PropertyMap& operator=(PropertyMap&&) noexcept = default;
  PropertyMap(const PropertyMap&) = delete;
  PropertyMap& operator=(const PropertyMap&) = delete;

  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }
  const_iterator cbegin() const { return entries_.cbegin(); }
  const_iterator cend() const { return entries_.cend(); }

  size_type size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  void clear() { entries_.clear(); }
  // Builders that know how many values come reserve exactly: the vector
  // would otherwise round its room up to a power of two.
  void reserve(size_type n) { entries_.reserve(n); }
  size_type capacity() const { return entries_.capacity(); }
  // Gives back the room that no entry uses.
  void shrink_to_fit() { entries_.shrink_to_fit(); }

  const_iterator lower_bound(key_type key) const {
    return std::lower_bound(entries_.begin(), entries_.end(), key,
                            [](const property_ptr& p, key_type k) { return p->property < k; });
  }
  const_iterator find(key_type key) const {
    const auto it = lower_bound(key);
    return it != end() && (*it)->property == key ? it : end();
  }
  bool contains(key_type key) const { return find(key) != end(); }
  size_type count(key_type key) const { return contains(key) ? 1 : 0; }

  const property_ptr& at(key_type key) const {
    const auto it = find(key);
    if (it == end()) throw std::out_of_range("PropertyMap::at: no property " + std::to_string(key));
    return *it;
  }

  // Files `value` under its number unless a value with that number is
  // present; the iterator points at the entry under the number either way.
  std::pair<const_iterator, bool> insert(property_ptr value) {
    return put(std::move(value), false);
  }
  // Files `value` under its number, replacing a value with that number.
  std::pair<const_iterator, bool> insert_or_assign(property_ptr value) {
    return put(std::move(value), true);
  }

  size_type erase(key_type key) {
    const auto it = find(key);
    if (it == end()) return 0;
    entries_.erase(it);
    return 1;
  }
  const_iterator erase(const_iterator at) { return entries_.erase(at); }

  // The same value pointers in the same order, as std::map of owning
  // pointers compares.
  friend bool operator==(const PropertyMap& a, const PropertyMap& b) {
    return a.entries_ == b.entries_;
  }

 private:
  std::pair<const_iterator, bool> put(property_ptr value, bool replace) {
    HX_CHECK(value != nullptr, "A property map holds no empty entry");
    const key_type key = value->property;
    // Values usually arrive in ascending order: appending needs no search.
    if (entries_.empty() || entries_.back()->property < key) {
      entries_.push_back(std::move(value));
      return {end() - 1, true};
    }
    const auto it = lower_bound(key);
    if (it == end() || (*it)->property != key) return {entries_.insert(it, std::move(value)), true};
    if (replace) entries_[static_cast<size_type>(it - begin())] = std::move(value);
    return {it, false};
  }

  std::vector<property_ptr> entries_;
};

}  // namespace tql
