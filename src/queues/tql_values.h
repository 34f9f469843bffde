#pragma once
// The byte form of TQL values inside event payloads: properties, version
// pairs, and (through their field lists) objects and patterns.
//
// A property is written as its 4-byte type code, the property number, the
// null flag and the aux word (4 bytes each), then its value, which is there
// even when the property is null. An absent property is the type code 0 and
// nothing else; a reader that meets any code outside 7 to 25 yields no
// property and reads nothing more for it.
#include <algorithm>
#include <cstdint>
#include <ostream>
#include <utility>
#include <vector>

#include "queues/codec.h"
#include "tql/object.h"
#include "tql/property.h"
#include "tql/property_map.h"

namespace queues {

template <>
struct codec<tql::version_t> {
  static void write(ioprim& io, const tql::version_t& value) {
    io.put<std::uint64_t>(value.major);
    io.put<std::uint64_t>(value.minor);
  }
  static void read(ioprim& io, tql::version_t& value) {
    value.major = io.get<std::uint64_t>();
    value.minor = io.get<std::uint64_t>();
  }
  static void print(std::ostream& out, const tql::version_t& value, int) {
    out << value.toString();
  }
};

// An object's tags: the form of a set of 32-bit numbers (a 4-byte count,
// then the numbers in ascending order). Reading sorts them and drops
// repeats, as a set does. Prints as a set.
template <>
struct codec<tql::TagSet> {
  static void write(ioprim& io, const tql::TagSet& value) { writeElements(io, value); }
  static void read(ioprim& io, tql::TagSet& value) {
    const std::uint32_t count = io.get<std::uint32_t>();
    std::vector<std::uint32_t> tags;
    tags.reserve(std::min(count, kMaxReserve));
    for (std::uint32_t i = 0; i < count; ++i) tags.push_back(io.get<std::uint32_t>());
    value.assign(std::move(tags));
  }
  static void print(std::ostream& out, const tql::TagSet& value, int depth) {
    printElements(out, value, "set", depth);
  }
};

// A value held only when it is not T{}: the form and the text of T itself.
template <class T>
struct codec<tql::SparseValue<T>> {
  static void write(ioprim& io, const tql::SparseValue<T>& value) {
    queues::write(io, value.get());
  }
  static void read(ioprim& io, tql::SparseValue<T>& value) {
    T read_value{};
    queues::read(io, read_value);
    value.set(read_value);
  }
  static void print(std::ostream& out, const tql::SparseValue<T>& value, int depth) {
    queues::print(out, value.get(), depth);
  }
};

// A property, or none (a null pointer).
template <>
struct codec<tql::property_ptr> {
  static void write(ioprim& io, const tql::property_ptr& value);
  // Leaves `value` null for a type code outside 7 to 25.
  static void read(ioprim& io, tql::property_ptr& value);
  // The value's text; "null" for a null property, "(none)" for no property.
  static void print(std::ostream& out, const tql::property_ptr& value, int depth);
};

// An object's properties: the form of a map (a 4-byte count, then each
// number followed by its property, in ascending number order). Reading, a
// repeated number keeps the later property and an entry that reads as no
// property is dropped. Prints as a map.
template <>
struct codec<tql::PropertyMap> {
  static void write(ioprim& io, const tql::PropertyMap& value);
  static void read(ioprim& io, tql::PropertyMap& value);
  static void print(std::ostream& out, const tql::PropertyMap& value, int depth);
};

}  // namespace queues
