#pragma once
// The byte form of TQL values inside event payloads: properties, version
// pairs, and (through their field lists) objects and patterns.
//
// A property is written as its 4-byte type code, the property number, the
// null flag and the aux word (4 bytes each), then its value, which is there
// even when the property is null. An absent property is the type code 0 and
// nothing else; a reader that meets any code outside 7 to 25 yields no
// property and reads nothing more for it.
#include <ostream>

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
