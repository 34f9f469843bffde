#pragma once
// How each kind of value is written to and read from an event stream, and
// how it prints in the diagnostic text form.
//
// queues::codec<T> has three static operations:
//   write(ioprim&, const T&), read(ioprim&, T&), print(std::ostream&, const T&, int depth)
// and queues::write / read / print call them. This header covers the fixed
// width primitives, strings, times, object ids, containers and records;
// other headers add TQL values and nested events.
//
// Encodings: 32-bit integers, enums, queue numbers and booleans take 4
// bytes (a boolean reads any non-zero value as true); 64-bit integers and
// doubles take 8; a string is an 8-byte length and the bytes; a time is
// 4-byte seconds then 4-byte microseconds; an id is a 4-byte component count
// (at most 3) and 4 bytes per component. Lists, vectors and sets are a 4-byte
// count and the elements in order; a map is a 4-byte count and each key
// followed by its value. A record is its fields in declaration order.
//
// Text form at depth d (a prefix of 2·d spaces): a value prints on the
// current line; a container prints "list {", "vector {", "set {" or "map {",
// then each element on its own line as prefix + "  " + element (a map entry
// as "  key: " and "  value: " lines), then prefix + "}"; a record that is a
// value prints "{", its fields one level deeper, then prefix + "}".
#include <algorithm>
#include <charconv>
#include <concepts>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "error/check.h"
#include "htime/usec_time.h"
#include "queues/ioprim.h"
#include "queues/types.h"
#include "tql/id.h"

namespace queues {

template <class T, class Enable = void>
struct codec;

template <class T>
void write(ioprim& io, const T& value) {
  codec<T>::write(io, value);
}
template <class T>
void read(ioprim& io, T& value) {
  codec<T>::read(io, value);
}
template <class T>
void print(std::ostream& out, const T& value, int depth) {
  codec<T>::print(out, value, depth);
}

inline void indent(std::ostream& out, int depth) {
  for (int i = 0; i < depth; ++i) out << "  ";
}

// --- Records ---
//
// A record lists its fields, in wire order, in a static member template:
//   template <class S, class V> static void fields(S& self, V&& visit) {
//     visit("id", self.id);
//     visit("state", self.state);
//   }
// S is the record or the const record; `visit` gets each field's name and
// the field itself.
struct FieldProbe {
  template <class F>
  void operator()(const char*, F&) const {}
};

template <class T>
concept Record = requires(T& value) {
  T::fields(value, FieldProbe{});
};

// Prints a record's fields, one line each: prefix + name + ": " + value.
template <Record T>
void printFields(std::ostream& out, const T& value, int depth) {
  T::fields(value, [&](const char* name, const auto& field) {
    indent(out, depth);
    out << name << ": ";
    queues::print(out, field, depth);
    out << '\n';
  });
}

// A payload prints as its fields when it is a record, else as one line
// holding the value.
template <class T>
void printPayload(std::ostream& out, const T& value, int depth) {
  if constexpr (Record<T>) {
    printFields(out, value, depth);
  } else {
    indent(out, depth);
    queues::print(out, value, depth);
    out << '\n';
  }
}

template <Record T>
struct codec<T> {
  static void write(ioprim& io, const T& value) {
    T::fields(value, [&](const char*, const auto& field) { queues::write(io, field); });
  }
  static void read(ioprim& io, T& value) {
    ioprim::NestingGuard nested(io);
    T::fields(value, [&](const char*, auto& field) { queues::read(io, field); });
  }
  static void print(std::ostream& out, const T& value, int depth) {
    out << "{\n";
    printFields(out, value, depth + 1);
    indent(out, depth);
    out << '}';
  }
};

// --- Fixed-width numbers ---

template <class T>
concept WireNumber = std::same_as<T, std::int32_t> || std::same_as<T, std::uint32_t> ||
    std::same_as<T, std::int64_t> || std::same_as<T, std::uint64_t>;

template <WireNumber T>
struct codec<T> {
  static void write(ioprim& io, T value) { io.put<T>(value); }
  static void read(ioprim& io, T& value) { value = io.get<T>(); }
  static void print(std::ostream& out, T value, int) { out << value; }
};

template <>
struct codec<double> {
  static void write(ioprim& io, double value) { io.put<double>(value); }
  static void read(ioprim& io, double& value) { value = io.get<double>(); }
  // The shortest text that reads back as the same double.
  static void print(std::ostream& out, double value, int) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.write(text, result.ptr - text);
  }
};

// A 16-bit number travels in 4 bytes; the high half is dropped on reading.
template <>
struct codec<std::uint16_t> {
  static void write(ioprim& io, std::uint16_t value) { io.put<std::uint32_t>(value); }
  static void read(ioprim& io, std::uint16_t& value) {
    value = static_cast<std::uint16_t>(io.get<std::uint32_t>());
  }
  static void print(std::ostream& out, std::uint16_t value, int) { out << value; }
};

template <>
struct codec<bool> {
  static void write(ioprim& io, bool value) { io.put<std::uint32_t>(value ? 1 : 0); }
  static void read(ioprim& io, bool& value) { value = io.get<std::uint32_t>() != 0; }
  static void print(std::ostream& out, bool value, int) { out << (value ? "true" : "false"); }
};

template <>
struct codec<queues::queue_t> {
  static void write(ioprim& io, queues::queue_t value) { io.put<std::int32_t>(value); }
  static void read(ioprim& io, queues::queue_t& value) {
    value = static_cast<queues::queue_t>(io.get<std::int32_t>());
  }
  static void print(std::ostream& out, queues::queue_t value, int) {
    out << queues::queueName(value);
  }
};

// --- Strings, times, ids ---

template <>
struct codec<std::string> {
  static void write(ioprim& io, const std::string& value) {
    io.putString(value.data(), value.size());
  }
  static void read(ioprim& io, std::string& value) { io.getString(value); }
  static void print(std::ostream& out, const std::string& value, int) { out << value; }
};

template <>
struct codec<htime::usec_time> {
  static void write(ioprim& io, const htime::usec_time& value) {
    io.put<std::int32_t>(value.sec);
    io.put<std::int32_t>(value.usec);
  }
  static void read(ioprim& io, htime::usec_time& value) {
    value.sec = io.get<std::int32_t>();
    value.usec = io.get<std::int32_t>();
  }
  // Weekday, month, day, time and year, in UTC.
  static void print(std::ostream& out, const htime::usec_time& value, int) {
    out << htime::calendarText(value.sec, htime::kTraceTimeFormat, true);
  }
};

template <>
struct codec<tql::id_t> {
  static void write(ioprim& io, const tql::id_t& value) {
    io.put<std::uint32_t>(static_cast<std::uint32_t>(value.size()));
    for (std::uint32_t c : value) io.put<std::uint32_t>(c);
  }
  // A count above 3 throws error::ERange from id_t::resize.
  static void read(ioprim& io, tql::id_t& value) {
    value.resize(io.get<std::uint32_t>());
    for (std::size_t i = 0; i < value.size(); ++i) value[i] = io.get<std::uint32_t>();
  }
  static void print(std::ostream& out, const tql::id_t& value, int) { out << value.toString(); }
};

// --- Containers ---

// Containers are never sized from their count up front: a hostile count
// must cost no more than the elements that actually arrive.
inline constexpr std::uint32_t kMaxReserve = 256;

template <class Container>
void printElements(std::ostream& out, const Container& elements, const char* kind, int depth) {
  out << kind << " {\n";
  for (const auto& element : elements) {
    indent(out, depth);
    out << "  ";
    queues::print(out, element, depth + 1);
    out << '\n';
  }
  indent(out, depth);
  out << '}';
}

template <class Container>
void writeElements(ioprim& io, const Container& elements) {
  io.put<std::uint32_t>(static_cast<std::uint32_t>(elements.size()));
  for (const auto& element : elements) queues::write(io, element);
}

template <class T>
struct codec<std::vector<T>> {
  static void write(ioprim& io, const std::vector<T>& value) { writeElements(io, value); }
  static void read(ioprim& io, std::vector<T>& value) {
    const std::uint32_t count = io.get<std::uint32_t>();
    value.clear();
    value.reserve(std::min(count, kMaxReserve));
    for (std::uint32_t i = 0; i < count; ++i) queues::read(io, value.emplace_back());
  }
  static void print(std::ostream& out, const std::vector<T>& value, int depth) {
    printElements(out, value, "vector", depth);
  }
};

template <class T>
struct codec<std::list<T>> {
  static void write(ioprim& io, const std::list<T>& value) { writeElements(io, value); }
  static void read(ioprim& io, std::list<T>& value) {
    const std::uint32_t count = io.get<std::uint32_t>();
    value.clear();
    for (std::uint32_t i = 0; i < count; ++i) queues::read(io, value.emplace_back());
  }
  static void print(std::ostream& out, const std::list<T>& value, int depth) {
    printElements(out, value, "list", depth);
  }
};

template <class T>
struct codec<std::set<T>> {
  static void write(ioprim& io, const std::set<T>& value) { writeElements(io, value); }
  // Elements normally arrive in ascending order, so each goes in at the end.
  static void read(ioprim& io, std::set<T>& value) {
    const std::uint32_t count = io.get<std::uint32_t>();
    value.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
      T element{};
      queues::read(io, element);
      value.insert(value.end(), std::move(element));
    }
  }
  static void print(std::ostream& out, const std::set<T>& value, int depth) {
    printElements(out, value, "set", depth);
  }
};

template <class T>
struct IsUniquePtr : std::false_type {};
template <class T>
struct IsUniquePtr<std::unique_ptr<T>> : std::true_type {};

template <class K, class V>
struct codec<std::map<K, V>> {
  static void write(ioprim& io, const std::map<K, V>& value) {
    io.put<std::uint32_t>(static_cast<std::uint32_t>(value.size()));
    for (const auto& [key, mapped] : value) {
      queues::write(io, key);
      queues::write(io, mapped);
    }
  }
  // A repeated key keeps the later value. An entry whose value reads as
  // nothing (a property of unknown type) is dropped.
  static void read(ioprim& io, std::map<K, V>& value) {
    const std::uint32_t count = io.get<std::uint32_t>();
    value.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
      K key{};
      queues::read(io, key);
      V mapped{};
      queues::read(io, mapped);
      if constexpr (IsUniquePtr<V>::value) {
        if (!mapped) continue;
      }
      value.insert_or_assign(value.end(), std::move(key), std::move(mapped));
    }
  }
  static void print(std::ostream& out, const std::map<K, V>& value, int depth) {
    out << "map {\n";
    for (const auto& [key, mapped] : value) {
      indent(out, depth);
      out << "  key: ";
      queues::print(out, key, depth + 1);
      out << '\n';
      indent(out, depth);
      out << "  value: ";
      queues::print(out, mapped, depth + 1);
      out << '\n';
    }
    indent(out, depth);
    out << '}';
  }
};

// A pair prints on one line: "(first, second)".
template <class A, class B>
struct codec<std::pair<A, B>> {
  static void write(ioprim& io, const std::pair<A, B>& value) {
    queues::write(io, value.first);
    queues::write(io, value.second);
  }
  static void read(ioprim& io, std::pair<A, B>& value) {
    queues::read(io, value.first);
    queues::read(io, value.second);
  }
  static void print(std::ostream& out, const std::pair<A, B>& value, int depth) {
    out << '(';
    queues::print(out, value.first, depth);
    out << ", ";
    queues::print(out, value.second, depth);
    out << ')';
  }
};

// An owned node of a tree is written as the node itself; there is no null
// marker, so a missing node is a bug of the writer.
template <class T>
struct codec<std::unique_ptr<T>> {
  static void write(ioprim& io, const std::unique_ptr<T>& value) {
    HX_CHECK(value != nullptr, "Missing owned node in event data");
    queues::write(io, *value);
  }
  static void read(ioprim& io, std::unique_ptr<T>& value) {
    value = std::make_unique<T>();
    queues::read(io, *value);
  }
  static void print(std::ostream& out, const std::unique_ptr<T>& value, int depth) {
    if (value == nullptr) {
      out << "(null)";
      return;
    }
    queues::print(out, *value, depth);
  }
};

}  // namespace queues
