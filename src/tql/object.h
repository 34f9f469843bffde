#pragma once
// TQL objects and patterns: the version pairs and origins of objects, the
// objects of select results and patches with their subtrees, and the pattern
// trees of select requests. Their byte form lives with the event encoding
// (queues/tql_values.h).
#include <compare>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
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

// Where an object came from: two ids and a word, carried uninterpreted.
struct origin_t {
  id_t first;
  id_t second;
  std::uint32_t word = 0;

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
struct object_t {
  std::uint32_t class_ = 0;
  std::int32_t flags = 0;
  std::set<std::uint32_t> tags;
  id_t id;
  version_t version;
  PropertyMap properties;  // never holds a null property
  std::vector<object_ptr> children;
  origin_t origin;

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
