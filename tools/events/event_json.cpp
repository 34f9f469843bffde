#include "events/event_json.h"

#include <array>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "error/check.h"
#include "queues/devent.h"
#include "queues/event_data.h"
#include "queues/scheduler.h"
#include "queues/tql_values.h"
#include "tql/bignum.h"
#include "tql/schema.h"

namespace events {

std::string childPointer(const std::string& pointer, const std::string& key) {
  std::string escaped;
  for (char c : key) {
    if (c == '~') {
      escaped += "~0";
    } else if (c == '/') {
      escaped += "~1";
    } else {
      escaped += c;
    }
  }
  return pointer + "/" + escaped;
}

std::string childPointer(const std::string& pointer, std::size_t index) {
  return pointer + "/" + std::to_string(index);
}

std::string shortText(const Json& value) {
  std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  constexpr std::size_t kLimit = 40;
  if (text.size() > kLimit) text = text.substr(0, kLimit) + "...";
  return text;
}

namespace {

[[noreturn]] void fail(const std::string& at, const std::string& problem) {
  throw EJsonInput(at, problem);
}

[[noreturn]] void expected(const std::string& at, const std::string& what, const Json& found) {
  fail(at, "expected " + what + ", found " + shortText(found));
}

// --- Text helpers ---

bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    std::uint32_t code = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;  // cut short
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and values past the last code point are
    // not UTF-8 either.
    static constexpr std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

std::string toHex(const std::uint8_t* bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(n * 3);
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0) text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

// Hex digits in pairs; blanks between pairs are allowed.
std::vector<std::uint8_t> fromHex(const Json& value, const std::string& at) {
  if (!value.is_string()) expected(at, "a string of hex digits", value);
  const std::string& text = value.get_ref<const std::string&>();
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (c == ' ' && high < 0) continue;
    if (digit < 0) fail(at, "bad hex digit in " + shortText(value));
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) fail(at, "odd number of hex digits in " + shortText(value));
  return bytes;
}

Json textToJson(const std::string& text) {
  if (isValidUtf8(text)) return text;
  Json j = Json::object();
  j["hex"] = toHex(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return j;
}

std::string textFromJson(const Json& value, const std::string& at) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_object() && value.size() == 1 && value.contains("hex")) {
    const std::vector<std::uint8_t> bytes = fromHex(value["hex"], childPointer(at, "hex"));
    return std::string(bytes.begin(), bytes.end());
  }
  expected(at, "a string (or {\"hex\": ...})", value);
}

// --- Numbers ---

template <class T>
T integerFromJson(const Json& value, const std::string& at) {
  using Limits = std::numeric_limits<T>;
  const std::string range =
      "an integer from " + std::to_string(Limits::min()) + " to " + std::to_string(Limits::max());
  if (value.is_number_unsigned()) {
    const auto v = value.get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(Limits::max())) expected(at, range, value);
    return static_cast<T>(v);
  }
  if (value.is_number_integer()) {
    const auto v = value.get<std::int64_t>();
    if constexpr (std::is_unsigned_v<T>) {
      if (v < 0) expected(at, range, value);
      if (static_cast<std::uint64_t>(v) > static_cast<std::uint64_t>(Limits::max())) {
        expected(at, range, value);
      }
    } else {
      if (v < static_cast<std::int64_t>(Limits::min()) ||
          v > static_cast<std::int64_t>(Limits::max())) {
        expected(at, range, value);
      }
    }
    return static_cast<T>(v);
  }
  expected(at, range, value);
}

Json doubleToJson(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return value;
}

double doubleFromJson(const Json& value, const std::string& at) {
  if (value.is_number()) return value.get<double>();
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (text == "nan") return std::numeric_limits<double>::quiet_NaN();
    if (text == "inf") return std::numeric_limits<double>::infinity();
    if (text == "-inf") return -std::numeric_limits<double>::infinity();
  }
  expected(at, "a number (or \"nan\", \"inf\", \"-inf\")", value);
}

// --- Names ---

std::optional<std::int32_t> eventTypeByName(std::string_view name) {
  for (std::int32_t t = queues::kFirstEventType; t <= queues::kLastEventType; ++t) {
    if (queues::eventName(static_cast<queues::event_t>(t)) == name) return t;
  }
  return std::nullopt;
}

std::optional<queues::queue_t> queueByName(std::string_view name) {
  if (name == "none") return queues::QUEUE_NONE;
  for (std::size_t q = 0; q < queues::kQueueCount; ++q) {
    if (queues::queueName(static_cast<queues::queue_t>(q)) == name) {
      return static_cast<queues::queue_t>(q);
    }
  }
  return std::nullopt;
}

Json queueToJson(queues::queue_t q) {
  if (q == queues::QUEUE_NONE || (q >= 0 && static_cast<std::size_t>(q) < queues::kQueueCount)) {
    return queues::queueName(q);
  }
  return static_cast<std::int32_t>(q);
}

queues::queue_t queueFromJson(const Json& value, const std::string& at) {
  if (value.is_string()) {
    if (auto q = queueByName(value.get_ref<const std::string&>())) return *q;
    fail(at, "unknown queue name " + shortText(value) + " (main, schd, dbms, alrm, alrt, ...)");
  }
  if (value.is_number_integer()) {
    return static_cast<queues::queue_t>(integerFromJson<std::int32_t>(value, at));
  }
  expected(at, "a queue name or number", value);
}

// A name when it leads back to the same number, else the number.
Json classToJson(std::uint32_t number) {
  if (auto name = tql::findClassName(number); name && tql::findClassNumber(*name) == number) {
    return std::string(*name);
  }
  return number;
}

std::uint32_t classFromJson(const Json& value, const std::string& at) {
  if (value.is_string()) {
    if (auto n = tql::findClassNumber(value.get_ref<const std::string&>())) return *n;
    fail(at, "unknown class name " + shortText(value));
  }
  return integerFromJson<std::uint32_t>(value, at);
}

std::string propertyKey(std::uint32_t number) {
  if (auto name = tql::findPropertyName(number); name && tql::findPropertyNumber(*name) == number) {
    return std::string(*name);
  }
  return std::to_string(number);
}

Json propertyToJsonName(std::uint32_t number) {
  const std::string key = propertyKey(number);
  if (key == std::to_string(number)) return number;
  return key;
}

std::uint32_t propertyFromName(std::string_view name, const std::string& at) {
  if (auto n = tql::findPropertyNumber(name)) return *n;
  if (!name.empty() && name.find_first_not_of("0123456789") == std::string_view::npos &&
      name.size() <= 10) {
    const std::uint64_t v = std::stoull(std::string(name));
    if (v <= std::numeric_limits<std::uint32_t>::max()) return static_cast<std::uint32_t>(v);
  }
  fail(at, "unknown property name \"" + std::string(name) + "\"");
}

std::uint32_t propertyFromJson(const Json& value, const std::string& at) {
  if (value.is_string()) return propertyFromName(value.get_ref<const std::string&>(), at);
  return integerFromJson<std::uint32_t>(value, at);
}

// --- The codec: Codec<T>::to(value) and Codec<T>::from(json, value, at) ---

template <class T, class Enable = void>
struct Codec;

template <class T>
Json toJson(const T& value) {
  return Codec<T>::to(value);
}
template <class T>
void fromJson(const Json& j, T& value, const std::string& at) {
  Codec<T>::from(j, value, at);
}

// Records: fields by name, in wire order; fields named class_ and
// wanted_properties carry class and property names.
template <class F>
Json fieldToJson(std::string_view name, const F& field) {
  if constexpr (std::is_same_v<F, std::uint32_t>) {
    if (name == "class_") return classToJson(field);
  }
  if constexpr (std::is_same_v<F, std::set<std::uint32_t>>) {
    if (name == "wanted_properties") {
      Json array = Json::array();
      for (std::uint32_t p : field) array.push_back(propertyToJsonName(p));
      return array;
    }
  }
  return toJson(field);
}

template <class F>
void fieldFromJson(std::string_view name, const Json& j, F& field, const std::string& at) {
  if constexpr (std::is_same_v<F, std::uint32_t>) {
    if (name == "class_") {
      field = classFromJson(j, at);
      return;
    }
  }
  if constexpr (std::is_same_v<F, std::set<std::uint32_t>>) {
    if (name == "wanted_properties") {
      if (!j.is_array()) expected(at, "an array of property names", j);
      field.clear();
      for (std::size_t i = 0; i < j.size(); ++i) {
        field.insert(propertyFromJson(j[i], childPointer(at, i)));
      }
      return;
    }
  }
  fromJson(j, field, at);
}

template <class F>
struct IsOwnedNode : std::false_type {};
template <class N>
struct IsOwnedNode<std::unique_ptr<N>> : std::true_type {};
// An absent property is a form of its own on the wire.
template <>
struct IsOwnedNode<tql::property_ptr> : std::false_type {};

template <class F>
void missingField(const char* name, F& field, const std::string& at);

template <queues::Record T>
struct Codec<T> {
  static Json to(const T& value) {
    Json j = Json::object();
    T::fields(value,
              [&](const char* name, const auto& field) { j[name] = fieldToJson(name, field); });
    return j;
  }
  static void from(const Json& j, T& value, const std::string& at) {
    if (!j.is_object()) expected(at, "an object with the fields " + fieldList(), j);
    for (const auto& item : j.items()) {
      const std::string& key = item.key();

      const Json& member = item.value();
      bool known = false;
      T::fields(value, [&](const char* name, auto& field) {
        if (key != name) return;
        known = true;
        fieldFromJson(name, member, field, childPointer(at, key));
      });
      if (!known) {
        fail(childPointer(at, key), "unknown field \"" + key + "\" (fields: " + fieldList() + ")");
      }
    }
    // A missing member is zero or empty, except an owned node or a nested
    // event: the wire form has no empty value for those.
    T::fields(value, [&](const char* name, auto& field) {
      if (!j.contains(name)) missingField(name, field, at);
    });
  }
  static std::string fieldList() {
    std::string names;
    T probe{};
    T::fields(probe, [&](const char* name, auto&) {
      if (!names.empty()) names += ", ";
      names += name;
    });
    return names.empty() ? "none" : names;
  }
};

template <class F>
void missingField(const char* name, F& field, const std::string& at) {
  if constexpr (std::is_same_v<F, queues::EventPtr>) {
    fail(at, std::string("needs \"") + name + "\" (a nested event)");
  } else if constexpr (IsOwnedNode<F>::value) {
    fail(at, std::string("needs \"") + name + "\" (an object with its subtree)");
  } else if constexpr (queues::Record<F>) {
    Codec<F>::from(Json::object(), field, childPointer(at, name));
  }
}

template <class T>
requires queues::WireNumber<T>
struct Codec<T> {
  static Json to(T value) { return value; }
  static void from(const Json& j, T& value, const std::string& at) {
    value = integerFromJson<T>(j, at);
  }
};

template <>
struct Codec<std::uint16_t> {
  static Json to(std::uint16_t value) { return value; }
  static void from(const Json& j, std::uint16_t& value, const std::string& at) {
    value = integerFromJson<std::uint16_t>(j, at);
  }
};

template <>
struct Codec<double> {
  static Json to(double value) { return doubleToJson(value); }
  static void from(const Json& j, double& value, const std::string& at) {
    value = doubleFromJson(j, at);
  }
};

template <>
struct Codec<bool> {
  static Json to(bool value) { return value; }
  static void from(const Json& j, bool& value, const std::string& at) {
    if (!j.is_boolean()) expected(at, "true or false", j);
    value = j.get<bool>();
  }
};

template <>
struct Codec<queues::queue_t> {
  static Json to(queues::queue_t value) { return queueToJson(value); }
  static void from(const Json& j, queues::queue_t& value, const std::string& at) {
    value = queueFromJson(j, at);
  }
};

template <>
struct Codec<std::string> {
  static Json to(const std::string& value) { return textToJson(value); }
  static void from(const Json& j, std::string& value, const std::string& at) {
    value = textFromJson(j, at);
  }
};

template <>
struct Codec<htime::usec_time> {
  static Json to(const htime::usec_time& value) {
    Json j = Json::object();
    j["sec"] = value.sec;
    j["usec"] = value.usec;
    return j;
  }
  static void from(const Json& j, htime::usec_time& value, const std::string& at) {
    if (j.is_number()) {
      const double seconds = j.get<double>();
      if (!std::isfinite(seconds)) expected(at, "a time", j);
      value = htime::usec_time::fromDouble(seconds);
      return;
    }
    if (!j.is_object()) expected(at, "a time {\"sec\": S, \"usec\": U} or seconds", j);
    value = {};
    for (const auto& item : j.items()) {
      const std::string& key = item.key();

      const Json& member = item.value();
      if (key == "sec") {
        value.sec = integerFromJson<std::int32_t>(member, childPointer(at, key));
      } else if (key == "usec") {
        value.usec = integerFromJson<std::int32_t>(member, childPointer(at, key));
      } else {
        fail(childPointer(at, key), "unknown field \"" + key + "\" of a time (sec, usec)");
      }
    }
  }
};

template <>
struct Codec<tql::id_t> {
  static Json to(const tql::id_t& value) { return value.toString(); }
  static void from(const Json& j, tql::id_t& value, const std::string& at) {
    if (!j.is_string()) expected(at, "an object id such as \"0.1.5\"", j);
    const std::string& text = j.get_ref<const std::string&>();
    if (text.empty()) {
      value = tql::id_t();
      return;
    }
    try {
      value = tql::id_t::parse(text);
    } catch (const error::Exception&) {
      expected(at, "an object id such as \"0.1.5\" (at most three numbers)", j);
    }
  }
};

template <>
struct Codec<tql::version_t> {
  static Json to(const tql::version_t& value) {
    Json j = Json::object();
    j["major"] = value.major;
    j["minor"] = value.minor;
    return j;
  }
  static void from(const Json& j, tql::version_t& value, const std::string& at) {
    if (!j.is_object()) expected(at, "a version {\"major\": M, \"minor\": N}", j);
    value = {};
    for (const auto& item : j.items()) {
      const std::string& key = item.key();

      const Json& member = item.value();
      if (key == "major") {
        value.major = integerFromJson<std::uint64_t>(member, childPointer(at, key));
      } else if (key == "minor") {
        value.minor = integerFromJson<std::uint64_t>(member, childPointer(at, key));
      } else {
        fail(childPointer(at, key), "unknown field \"" + key + "\" of a version (major, minor)");
      }
    }
  }
};

template <class Container>
Json arrayToJson(const Container& elements) {
  Json j = Json::array();
  for (const auto& element : elements) j.push_back(toJson(element));
  return j;
}

template <class T>
void requireArray(const Json& j, const std::string& at) {
  if (!j.is_array()) expected(at, "an array", j);
}

template <class T>
struct Codec<std::vector<T>> {
  static Json to(const std::vector<T>& value) { return arrayToJson(value); }
  static void from(const Json& j, std::vector<T>& value, const std::string& at) {
    requireArray<T>(j, at);
    value.clear();
    for (std::size_t i = 0; i < j.size(); ++i)
      fromJson(j[i], value.emplace_back(), childPointer(at, i));
  }
};

template <class T>
struct Codec<std::list<T>> {
  static Json to(const std::list<T>& value) { return arrayToJson(value); }
  static void from(const Json& j, std::list<T>& value, const std::string& at) {
    requireArray<T>(j, at);
    value.clear();
    for (std::size_t i = 0; i < j.size(); ++i)
      fromJson(j[i], value.emplace_back(), childPointer(at, i));
  }
};

template <class T>
struct Codec<std::set<T>> {
  static Json to(const std::set<T>& value) { return arrayToJson(value); }
  static void from(const Json& j, std::set<T>& value, const std::string& at) {
    requireArray<T>(j, at);
    value.clear();
    for (std::size_t i = 0; i < j.size(); ++i) {
      T element{};
      fromJson(j[i], element, childPointer(at, i));
      value.insert(std::move(element));
    }
  }
};

template <>
struct Codec<tql::TagSet> {
  static Json to(const tql::TagSet& value) { return arrayToJson(value); }
  static void from(const Json& j, tql::TagSet& value, const std::string& at) {
    requireArray<std::uint32_t>(j, at);
    std::vector<std::uint32_t> tags(j.size());
    for (std::size_t i = 0; i < j.size(); ++i) fromJson(j[i], tags[i], childPointer(at, i));
    value.assign(std::move(tags));
  }
};

// The value itself; a missing member leaves it T{}.
template <class T>
struct Codec<tql::SparseValue<T>> {
  static Json to(const tql::SparseValue<T>& value) { return toJson(value.get()); }
  static void from(const Json& j, tql::SparseValue<T>& value, const std::string& at) {
    T read_value = value.get();
    fromJson(j, read_value, at);
    value.set(read_value);
  }
};

template <class A, class B>
struct Codec<std::pair<A, B>> {
  static Json to(const std::pair<A, B>& value) {
    return Json::array({toJson(value.first), toJson(value.second)});
  }
  static void from(const Json& j, std::pair<A, B>& value, const std::string& at) {
    if (!j.is_array() || j.size() != 2) expected(at, "a pair [first, second]", j);
    fromJson(j[0], value.first, childPointer(at, 0));
    fromJson(j[1], value.second, childPointer(at, 1));
  }
};

template <class K, class V>
struct Codec<std::map<K, V>> {
  static Json to(const std::map<K, V>& value) {
    Json j = Json::array();
    for (const auto& [key, mapped] : value) {
      Json entry = Json::object();
      entry["key"] = toJson(key);
      entry["value"] = toJson(mapped);
      j.push_back(std::move(entry));
    }
    return j;
  }
  static void from(const Json& j, std::map<K, V>& value, const std::string& at) {
    if (!j.is_array()) expected(at, "an array of {\"key\": K, \"value\": V}", j);
    value.clear();
    for (std::size_t i = 0; i < j.size(); ++i) {
      const std::string here = childPointer(at, i);
      const Json& entry = j[i];
      if (!entry.is_object() || entry.size() != 2 || !entry.contains("key") ||
          !entry.contains("value")) {
        expected(here, "{\"key\": K, \"value\": V}", entry);
      }
      K key{};
      fromJson(entry["key"], key, childPointer(here, "key"));
      V mapped{};
      fromJson(entry["value"], mapped, childPointer(here, "value"));
      value.insert_or_assign(std::move(key), std::move(mapped));
    }
  }
};

template <class T>
struct Codec<std::unique_ptr<T>> {
  static Json to(const std::unique_ptr<T>& value) {
    if (value == nullptr) return nullptr;
    return toJson(*value);
  }
  static void from(const Json& j, std::unique_ptr<T>& value, const std::string& at) {
    value = std::make_unique<T>();
    fromJson(j, *value, at);
  }
};

// --- Properties ---

constexpr std::array<const char*, tql::kLastPropertyType + 1> kPropertyTypeNames = {
    nullptr,   nullptr,       nullptr,      nullptr,  nullptr,   nullptr,  nullptr,
    "string",  "string_list", "object_set", "object", "version", "action", "real",
    "bignum",  "gid",         "gid_list",   "date",   "index",   "int",    "uint",
    "boolean", "blob",        "lob",        "oid",    "enum"};

std::uint32_t propertyTypeByName(const Json& j, const std::string& at) {
  if (j.is_string()) {
    for (std::uint32_t code = tql::kFirstPropertyType; code <= tql::kLastPropertyType; ++code) {
      if (j.get_ref<const std::string&>() == kPropertyTypeNames[code]) return code;
    }
  }
  fail(at, "unknown property type " + shortText(j) +
               " (string, string_list, object_set, object, version, action, real, bignum, gid, "
               "gid_list, date, index, int, uint, boolean, blob, lob, oid, enum)");
}

template <class P>
void valueToJson(const P& p, Json& j) {
  if constexpr (std::is_same_v<P, tql::property_blob_t> || std::is_same_v<P, tql::property_lob_t>) {
    j["value"] = toHex(p.value.data(), p.value.size());
  } else if constexpr (std::is_same_v<P, tql::property_bignum_t>) {
    j["value"] = p.value.toString();
  } else if constexpr (std::is_same_v<P, tql::property_object_t>) {
    j["value"] = p.value.toString();
    if (!p.extraId1.empty()) j["extraId1"] = p.extraId1.toString();
    if (!p.extraId2.empty()) j["extraId2"] = p.extraId2.toString();
    if (p.extraWord != 0) j["extraWord"] = p.extraWord;
  } else if constexpr (std::is_same_v<P, tql::property_version_t>) {
    j["major"] = p.major;
    j["minor"] = p.minor;
  } else if constexpr (std::is_same_v<P, tql::property_enum_t>) {
    j["enumType"] = p.enumType;
    j["value"] = p.value;
  } else {
    j["value"] = toJson(p.value);
  }
}

// Reads the members that hold a value of type P; returns whether `key` was
// one of them.
template <class P>
bool valueFromJson(P& p, const std::string& key, const Json& member, const std::string& at) {
  if constexpr (std::is_same_v<P, tql::property_blob_t> || std::is_same_v<P, tql::property_lob_t>) {
    if (key != "value") return false;
    p.value = fromHex(member, at);
  } else if constexpr (std::is_same_v<P, tql::property_bignum_t>) {
    if (key != "value") return false;
    if (!member.is_string()) expected(at, "a decimal number in a string", member);
    try {
      p.value = tql::bignum_t::parse(member.get_ref<const std::string&>());
    } catch (const error::Exception&) {
      expected(at, "a decimal number in a string", member);
    }
  } else if constexpr (std::is_same_v<P, tql::property_object_t>) {
    if (key == "value") {
      fromJson(member, p.value, at);
    } else if (key == "extraId1") {
      fromJson(member, p.extraId1, at);
    } else if (key == "extraId2") {
      fromJson(member, p.extraId2, at);
    } else if (key == "extraWord") {
      fromJson(member, p.extraWord, at);
    } else {
      return false;
    }
  } else if constexpr (std::is_same_v<P, tql::property_version_t>) {
    if (key == "major") {
      fromJson(member, p.major, at);
    } else if (key == "minor") {
      fromJson(member, p.minor, at);
    } else {
      return false;
    }
  } else if constexpr (std::is_same_v<P, tql::property_enum_t>) {
    if (key == "enumType") {
      fromJson(member, p.enumType, at);
    } else if (key == "value") {
      fromJson(member, p.value, at);
    } else {
      return false;
    }
  } else {
    if (key != "value") return false;
    fromJson(member, p.value, at);
  }
  return true;
}

// `keyed`: the property sits in a map under its own number, so "property"
// is left out.
Json propertyToJson(const tql::property_t& p, std::optional<std::uint32_t> keyed) {
  Json j = Json::object();
  j["type"] = kPropertyTypeNames[p.typeCode()];
  if (!keyed || *keyed != p.property) j["property"] = propertyToJsonName(p.property);
  tql::visitProperty(p, [&](const auto& concrete) { valueToJson(concrete, j); });
  if (p.isNull) j["null"] = true;
  if (p.aux != 0) j["aux"] = p.aux;
  return j;
}

// The number of a property value, which must fit beside its null flag.
std::uint32_t valueNumber(std::uint32_t number, const std::string& at) {
  if (number > tql::kMaxPropertyNumber) {
    fail(at, "property number " + std::to_string(number) + " out of range (at most " +
                 std::to_string(tql::kMaxPropertyNumber) + ")");
  }
  return number;
}

// `keyed`: the property sits in a map under this number, which it takes; a
// "property" member must agree with it.
tql::property_ptr propertyFromJson(const Json& j, const std::string& at,
                                   std::optional<std::uint32_t> keyed) {
  if (!j.is_object()) expected(at, "a property {\"type\": ..., \"value\": ...}", j);
  if (!j.contains("type")) fail(at, "a property needs a \"type\"");
  tql::property_ptr p = tql::makeProperty(propertyTypeByName(j["type"], childPointer(at, "type")));
  if (keyed) p->property = *keyed;
  bool numbered = keyed.has_value();
  for (const auto& item : j.items()) {
    const std::string& key = item.key();

    const Json& member = item.value();
    const std::string here = childPointer(at, key);
    if (key == "type") continue;
    if (key == "property") {
      const std::uint32_t number = valueNumber(propertyFromJson(member, here), here);
      if (keyed && number != *keyed) {
        fail(here, "property " + propertyKey(number) + " under the key of property " +
                       propertyKey(*keyed));
      }
      p->property = number;
      numbered = true;
    } else if (key == "null") {
      bool isNull = false;
      fromJson(member, isNull, here);
      p->isNull = isNull;
    } else if (key == "aux") {
      fromJson(member, p->aux, here);
    } else {
      const bool known = tql::visitProperty(
          *p, [&](auto& concrete) { return valueFromJson(concrete, key, member, here); });
      if (!known) {
        fail(here, "unknown field \"" + key + "\" of a " + kPropertyTypeNames[p->typeCode()] +
                       " property");
      }
    }
  }
  if (!numbered) fail(at, "a property needs a \"property\" (its name or number)");
  return p;
}

template <>
struct Codec<tql::property_ptr> {
  static Json to(const tql::property_ptr& value) {
    if (value == nullptr) return nullptr;
    return propertyToJson(*value, std::nullopt);
  }
  static void from(const Json& j, tql::property_ptr& value, const std::string& at) {
    if (j.is_null()) {
      value.reset();
      return;
    }
    value = propertyFromJson(j, at, std::nullopt);
  }
};

// An object's properties: member name = property name (or number).
template <>
struct Codec<tql::PropertyMap> {
  static Json to(const tql::PropertyMap& value) {
    Json j = Json::object();
    for (const auto& p : value)
      j[propertyKey(p->property)] = propertyToJson(*p, std::uint32_t{p->property});
    return j;
  }
  static void from(const Json& j, tql::PropertyMap& value, const std::string& at) {
    if (!j.is_object()) expected(at, "an object of properties by name", j);
    value.clear();
    for (const auto& item : j.items()) {
      const std::string& key = item.key();

      const Json& member = item.value();
      const std::string here = childPointer(at, key);
      const std::uint32_t number = valueNumber(propertyFromName(key, here), here);
      value.insert_or_assign(propertyFromJson(member, here, number));
    }
  }
};

// --- Events ---

template <>
struct Codec<queues::EventPtr> {
  static Json to(const queues::EventPtr& value) {
    if (value == nullptr) return nullptr;
    return eventToJson(*value);
  }
  static void from(const Json& j, queues::EventPtr& value, const std::string& at) {
    value = eventFromJson(j, at);
  }
};

using DataToJson = Json (*)(const queues::event&);
using DataFromJson = queues::EventPtr (*)(const Json* data, queues::queue_t dest, std::uint32_t uid,
                                          const std::string& at);

template <std::size_t N>
Json dataToJson(const queues::event& ev) {
  using Event = queues::devent_t<queues::event_t(N)>;
  const auto* concrete = dynamic_cast<const Event*>(&ev);
  HX_CHECK(concrete != nullptr,
           "Event of type " + queues::eventName(ev.type) + " is not the class of its type");
  return toJson(concrete->data);
}

template <std::size_t N>
queues::EventPtr dataFromJson(const Json* data, queues::queue_t dest, std::uint32_t uid,
                              const std::string& at) {
  auto ev = std::make_unique<queues::devent_t<queues::event_t(N)>>(dest, uid);
  if (data != nullptr) {
    fromJson(*data, ev->data, at);
  } else if constexpr (queues::Record<decltype(ev->data)>) {
    // No "data" is an empty record, whose required members are missing.
    fromJson(Json::object(), ev->data, at);
  }
  return ev;
}

struct TypeEntry {
  DataToJson to = nullptr;
  DataFromJson from = nullptr;
};

template <std::size_t N>
constexpr TypeEntry typeEntry() {
  if constexpr (queues::isEventType(static_cast<std::int32_t>(N)) &&
                N != queues::MESSAGE_EXCEPTION) {
    return {&dataToJson<N>, &dataFromJson<N>};
  } else {
    return {};
  }
}

template <std::size_t... N>
constexpr auto makeTypeTable(std::index_sequence<N...>) {
  return std::array<TypeEntry, sizeof...(N)>{typeEntry<N>()...};
}

// Indexed by type number; empty where there is no ordinary event.
constexpr auto kTypes = makeTypeTable(std::make_index_sequence<queues::kLastEventType + 1>());

queues::event_t typeFromJson(const Json& value, const std::string& at) {
  if (value.is_string()) {
    if (auto t = eventTypeByName(value.get_ref<const std::string&>())) {
      return static_cast<queues::event_t>(*t);
    }
    fail(at, "unknown event type " + shortText(value));
  }
  if (value.is_number_integer()) {
    const auto t = integerFromJson<std::int32_t>(value, at);
    if (queues::isEventType(t)) return static_cast<queues::event_t>(t);
  }
  expected(at, "an event type name or a number from 1 to 195", value);
}

}  // namespace

Json eventToJson(const queues::event& ev) {
  Json j = Json::object();
  j["type"] = queues::eventName(ev.type);
  j["dest"] = queueToJson(ev.dest);
  j["inresponse"] = ev.inresponse;
  if (ev.exception) {
    const auto* ex = dynamic_cast<const queues::exevent*>(&ev);
    HX_CHECK(ex != nullptr, "Exception reply that is not an exevent");
    j["exception"] = textToJson(ex->text);
    return j;
  }
  HX_CHECK(queues::isEventType(ev.type) && kTypes[ev.type].to != nullptr,
           "Event of unknown type " + std::to_string(ev.type));
  j["data"] = kTypes[ev.type].to(ev);
  return j;
}

queues::EventPtr eventFromJson(const Json& value, const std::string& pointer) {
  if (!value.is_object()) {
    expected(pointer, "an event {\"type\": ..., \"dest\": ..., \"data\": ...}", value);
  }
  const Json* type = nullptr;
  const Json* dest = nullptr;
  const Json* data = nullptr;
  const Json* exception = nullptr;
  std::uint32_t uid = 0;
  for (const auto& item : value.items()) {
    const std::string& key = item.key();

    const Json& member = item.value();
    if (key == "type") {
      type = &member;
    } else if (key == "dest") {
      dest = &member;
    } else if (key == "inresponse") {
      uid = integerFromJson<std::uint32_t>(member, childPointer(pointer, key));
    } else if (key == "data") {
      data = &member;
    } else if (key == "exception") {
      exception = &member;
    } else {
      fail(childPointer(pointer, key),
           "unknown field \"" + key + "\" of an event (type, dest, inresponse, data, exception)");
    }
  }
  if (type == nullptr) fail(pointer, "an event needs a \"type\"");
  if (dest == nullptr) fail(pointer, "an event needs a \"dest\"");
  const queues::event_t t = typeFromJson(*type, childPointer(pointer, "type"));
  const queues::queue_t q = queueFromJson(*dest, childPointer(pointer, "dest"));
  if (t == queues::MESSAGE_EXCEPTION || exception != nullptr) {
    if (t != queues::MESSAGE_EXCEPTION) {
      fail(childPointer(pointer, "type"), "an exception reply has the type MESSAGE_EXCEPTION");
    }
    if (exception == nullptr) fail(pointer, "a MESSAGE_EXCEPTION needs an \"exception\" text");
    if (data != nullptr) fail(childPointer(pointer, "data"), "an exception reply has no data");
    return std::make_unique<queues::exevent>(
        q, uid, textFromJson(*exception, childPointer(pointer, "exception")));
  }
  return kTypes[t].from(data, q, uid, childPointer(pointer, "data"));
}

}  // namespace events
