#pragma once
// The properties of one object: property number to owned value, kept as one
// vector of (number, value) pairs sorted by number. An object carries a
// handful of properties and a mirror holds hundreds of thousands of objects,
// so a single block per object beats a tree node per property in memory,
// allocations and cache misses; lookups are a binary search over a few
// entries.
//
// It offers what callers use of std::map: find, iteration
// in ascending number order giving `.first` and `.second`, operator[],
// emplace, insert, insert_or_assign, erase, at, size and equality. Unlike a
// map, inserting or erasing moves the entries after it, so iterators and
// references to entries do not survive a change of the map (the values
// themselves stay where they are: only their owning pointers move). The
// number of an entry must not be changed through an iterator.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tql/property.h"

namespace tql {

class PropertyMap {
 public:
  using key_type = std::uint32_t;
  using mapped_type = property_ptr;
  using value_type = std::pair<std::uint32_t, property_ptr>;
  using size_type = std::size_t;
  using iterator = std::vector<value_type>::iterator;
  using const_iterator = std::vector<value_type>::const_iterator;

  PropertyMap() = default;
  PropertyMap(PropertyMap&&) noexcept = default;
  PropertyMap& operator=(PropertyMap&&) noexcept = default;
  PropertyMap(const PropertyMap&) = delete;
  PropertyMap& operator=(const PropertyMap&) = delete;

  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.end(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }
  const_iterator cbegin() const { return entries_.cbegin(); }
  const_iterator cend() const { return entries_.cend(); }

  size_type size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  void clear() { entries_.clear(); }
  void reserve(size_type n) { entries_.reserve(n); }
  // Gives back the room that no entry uses.
  void shrink_to_fit() { entries_.shrink_to_fit(); }

  iterator lower_bound(key_type key) { return begin() + lowerIndex(key); }
  const_iterator lower_bound(key_type key) const { return begin() + lowerIndex(key); }

  iterator find(key_type key) {
    const auto it = lower_bound(key);
    return it != end() && it->first == key ? it : end();
  }
  const_iterator find(key_type key) const {
    const auto it = lower_bound(key);
    return it != end() && it->first == key ? it : end();
  }
  bool contains(key_type key) const { return find(key) != end(); }
  size_type count(key_type key) const { return contains(key) ? 1 : 0; }

  property_ptr& at(key_type key) {
    const auto it = find(key);
    if (it == end()) throw std::out_of_range("PropertyMap::at: no property " + std::to_string(key));
    return it->second;
  }
  const property_ptr& at(key_type key) const {
    const auto it = find(key);
    if (it == end()) throw std::out_of_range("PropertyMap::at: no property " + std::to_string(key));
    return it->second;
  }

  // The value under `key`, an empty pointer inserted when there was none.
  property_ptr& operator[](key_type key) { return emplace(key, nullptr).first->second; }

  // Inserts (key, value) unless `key` is present; the iterator points at the
  // entry under `key` either way.
  std::pair<iterator, bool> emplace(key_type key, property_ptr value) {
    // Entries usually arrive in ascending order: appending needs no search.
    if (entries_.empty() || entries_.back().first < key) {
      entries_.emplace_back(key, std::move(value));
      return {end() - 1, true};
    }
    const auto it = lower_bound(key);
    if (it != end() && it->first == key) return {it, false};
    return {entries_.emplace(it, key, std::move(value)), true};
  }
  std::pair<iterator, bool> insert(value_type&& entry) {
    return emplace(entry.first, std::move(entry.second));
  }
  // Inserts (key, value), replacing the value of an entry under `key`.
  std::pair<iterator, bool> insert_or_assign(key_type key, property_ptr value) {
    auto [it, inserted] = emplace(key, nullptr);
    it->second = std::move(value);
    return {it, inserted};
  }
  // As std::map's: the hint is not needed, appending is found without it.
  iterator insert_or_assign(const_iterator, key_type key, property_ptr value) {
    return insert_or_assign(key, std::move(value)).first;
  }

  size_type erase(key_type key) {
    const auto it = find(key);
    if (it == end()) return 0;
    entries_.erase(it);
    return 1;
  }
  iterator erase(const_iterator at) { return entries_.erase(at); }
  iterator erase(iterator at) { return entries_.erase(at); }

  // Equal numbers in the same order and the same value pointers, as std::map
  // of owning pointers compares.
  friend bool operator==(const PropertyMap& a, const PropertyMap& b) {
    return a.entries_ == b.entries_;
  }

 private:
  size_type lowerIndex(key_type key) const {
    return static_cast<size_type>(
        std::lower_bound(entries_.begin(), entries_.end(), key,
                         [](const value_type& entry, key_type k) { return entry.first < k; }) -
        entries_.begin());
  }

  std::vector<value_type> entries_;
};

}  // namespace tql
