#pragma once
// TQL objects and patterns: the version pairs and origins of objects, the
// objects of select results and patches with their subtrees, and the pattern
// trees of select requests. Their byte form lives with the event encoding
// (queues/tql_values.h).
#include <compare>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tql/id.h"
#include "tql/property.h"
#include "tql/property_map.h"

namespace tql {

// An object's version: (major, minor).
struct version_t {
  std::uint64_t major = 0;
  std::uint64_t minor = 0;

  friend bool operator==(const version_t&, const version_t&) = default;
  friend auto operator<=>(const version_t&, const version_t&) = default;
  // As a version property prints: "MAJOR.1.MINOR" in double quotes.
  std::string toString() const;
};

// A set of tag numbers, iterated in ascending order, offering what callers
// use of std::set. The DBMS sends tags for hardly any object, and a mirror
// holds hundreds of thousands of objects, so an empty set is one null
// pointer; a non-empty one is a single block holding its size, its room and
// the sorted numbers. Iterators do not survive a change.
class TagSet {
 public:
  using value_type = std::uint32_t;
  using key_type = std::uint32_t;
  using size_type = std::size_t;
  using const_iterator = const std::uint32_t*;
  using iterator = const_iterator;

  TagSet() = default;
  TagSet(std::initializer_list<std::uint32_t> tags);
  TagSet(const TagSet& other);
  TagSet& operator=(const TagSet& other);
  TagSet(TagSet&&) noexcept = default;
  TagSet& operator=(TagSet&&) noexcept = default;
  ~TagSet() = default;

  const_iterator begin() const { return block_ ? block_.get() + kHeader : nullptr; }
  const_iterator end() const { return begin() + size(); }
  size_type size() const { return block_ ? block_[0] : 0; }
  bool empty() const { return size() == 0; }
  // Frees the block.
  void clear() { block_.reset(); }

  bool contains(std::uint32_t tag) const;
  size_type count(std::uint32_t tag) const { return contains(tag) ? 1 : 0; }
  // Adds `tag` unless present; the iterator points at it either way. Tags
  // that come in ascending order are appended without moving any.
  std::pair<const_iterator, bool> insert(std::uint32_t tag);
  // Replaces the contents with `tags`, sorted and without repeats, in
  // O(n log n) whatever their order.
  void assign(std::vector<std::uint32_t> tags);

  friend bool operator==(const TagSet& a, const TagSet& b);

 private:
  // block_[0] is the size, block_[1] the room, the tags follow.
  static constexpr std::size_t kHeader = 2;
  std::uint32_t room() const { return block_ ? block_[1] : 0; }
  // A block with room for `room` tags holding the current ones.
  void regrow(std::size_t room);

  std::unique_ptr<std::uint32_t[]> block_;
};

// A value that is nearly always T{}: held on the heap only when it differs
// from it, so the usual case costs one null pointer. get() gives T{} when
// nothing is held; set() drops the heap copy when given T{}.
template <class T>
class SparseValue {
 public:
  SparseValue() = default;
  SparseValue(const T& value) { set(value); }  // converts, so `o.origin = origin` works
  SparseValue(const SparseValue& other) { set(other.get()); }
  SparseValue& operator=(const SparseValue& other) {
    if (this != &other) set(other.get());
    return *this;
  }
  SparseValue(SparseValue&&) noexcept = default;
  SparseValue& operator=(SparseValue&&) noexcept = default;
  ~SparseValue() = default;

  const T& get() const { return held_ ? *held_ : kDefault; }
  void set(const T& value) {
    if (value == kDefault) {
      held_.reset();
    } else if (held_) {
      *held_ = value;
    } else {
      held_ = std::make_unique<T>(value);
    }
  }
  // True when the value is T{} (nothing is held).
  bool isDefault() const { return held_ == nullptr; }

  friend bool operator==(const SparseValue& a, const SparseValue& b) { return a.get() == b.get(); }

 private:
  static constexpr T kDefault{};
  std::unique_ptr<T> held_;
};

// Where an object came from: two ids and a word, carried uninterpreted.
struct origin_t {
  id_t first;
  id_t second;
  std::uint32_t word = 0;

  friend bool operator==(const origin_t&, const origin_t&) = default;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("first", s.first);
    visit("second", s.second);
    visit("word", s.word);
  }
};

struct object_t;
using object_ptr = std::unique_ptr<object_t>;

// One node of a select result or patch, with its subtree. Children are held
// by pointer so that a node keeps its address while the subscription moves
// it between parents. Copying copies the whole subtree.
//
// `tags` and `origin` are empty or zero for nearly every object the DBMS
// sends; each costs one pointer then (104 bytes in all on 64-bit Linux).
struct object_t {
  std::uint32_t class_ = 0;
  std::int32_t flags = 0;
  TagSet tags;
  id_t id;
  version_t version;
  PropertyMap properties;  // never holds a null property
  std::vector<object_ptr> children;
  SparseValue<origin_t> origin;

  object_t() = default;
  object_t(const object_t& other);
  object_t& operator=(const object_t& other);
  object_t(object_t&&) noexcept = default;
  object_t& operator=(object_t&&) noexcept = default;
  ~object_t() = default;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("class_", s.class_);
    visit("flags", s.flags);
    visit("tags", s.tags);
    visit("id", s.id);
    visit("version", s.version);
    visit("properties", s.properties);
    visit("children", s.children);
    visit("origin", s.origin);
  }
};

// A condition of a pattern node: the property to compare with and the
// relational operator (kRelEqual ...). `prop` may be absent.
struct condition_t {
  property_ptr prop;
  std::uint32_t rel_op = 0;

  condition_t() = default;
  condition_t(property_ptr p, std::uint32_t op) : prop(std::move(p)), rel_op(op) {}
  condition_t(const condition_t& other);
  condition_t& operator=(const condition_t& other);
  condition_t(condition_t&&) noexcept = default;
  condition_t& operator=(condition_t&&) noexcept = default;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("prop", s.prop);
    visit("rel_op", s.rel_op);
  }
};

// One node of a TQL select pattern: objects of class `class_` that satisfy
// every `where` condition, with the properties in `wanted_properties`;
// `next` and `cond_next` continue the pattern below them.
struct pattern_t {
  std::uint32_t class_ = 0;
  std::int32_t flags = 0;
  std::uint32_t tag = 0;
  std::vector<pattern_t> next;
  std::vector<pattern_t> cond_next;
  std::list<condition_t> where;
  std::set<std::uint32_t> wanted_properties;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("class_", s.class_);
    visit("flags", s.flags);
    visit("tag", s.tag);
    visit("next", s.next);
    visit("cond_next", s.cond_next);
    visit("where", s.where);
    visit("wanted_properties", s.wanted_properties);
  }
};

}  // namespace tql
