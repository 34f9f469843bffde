#pragma once
// Reading properties of database objects: finding a property by number and
// taking its value as the type the caller expects. Missing properties, nulls
// and wrong types throw errors::tql with a text that names the property (and
// class), so that a keeper can let one bad object fail loudly and move on.
//
// The lookups work on any object type with a class number `class_` and a map
// `properties` from property number to owned property: a PropertyMap, or a
// std::map (where an entry holding no property counts as absent). The
// getters are inline: a keeper reads a few properties of each of 100k+
// objects, and the happy path is one virtual call and a field read.
#include <concepts>
#include <cstdint>
#include <string>
#include <utility>

#include "tql/property.h"

namespace tql {

namespace detail {
// The property in an entry of a map: PropertyMap's entries are the owning
// pointers themselves, std::map's are (number, pointer) pairs.
inline const property_t* entryProperty(const property_ptr& entry) { return entry.get(); }
template <class Key>
const property_t* entryProperty(const std::pair<const Key, property_ptr>& entry) {
  return entry.second.get();
}
}  // namespace detail

template <class Object>
concept property_holder = requires(const Object& object, std::uint32_t number) {
  { object.class_ } -> std::convertible_to<std::uint32_t>;
  {
    detail::entryProperty(*object.properties.find(number))
    } -> std::convertible_to<const property_t*>;
  object.properties.end();
};

namespace detail {
// Throw errors::tql with code 6 (missing), 9 (null or wrong type); out of line
// so that the inline getters stay small.
[[noreturn]] void throwPropertyNotFound(std::uint32_t classNumber, std::uint32_t number);
[[noreturn]] void throwNullGiven(const char* className, const property_t& p);
[[noreturn]] void throwTypeMismatch(const char* className, const property_t& p);
[[noreturn]] void throwEnumTypeMismatch(const property_t& p, std::int32_t expectedType);
}  // namespace detail

// The property with this number, or nullptr when the object has none.
template <property_holder Object>
const property_t* findProperty(const Object& object, std::uint32_t number) {
  const auto it = object.properties.find(number);
  return it == object.properties.end() ? nullptr : detail::entryProperty(*it);
}

// The property with this number; throws errors::tql (code 6)
// "Property NAME not found in class CLASS" when the object has none.
template <property_holder Object>
const property_t& property(const Object& object, std::uint32_t number) {
  const property_t* p = findProperty(object, number);
  if (p == nullptr) [[unlikely]]
    detail::throwPropertyNotFound(object.class_, number);
  return *p;
}

namespace detail {
// `p` as T, or errors::tql (code 9) "Null given for CLASS: NAME" /
// "Type mismatch for CLASS: NAME".
template <class T>
const T& expect(const property_t& p, const char* className) {
  if (p.isNull) [[unlikely]]
    throwNullGiven(className, p);
  if (p.typeCode() != T::kTypeCode) [[unlikely]]
    throwTypeMismatch(className, p);
  return static_cast<const T&>(p);
}
}  // namespace detail

// Typed getters: the value, or errors::tql (code 9) for a null property or
// one of another type.
inline const std::string& getString(const property_t& p) {
  return detail::expect<property_string_t>(p, "property_string_t").value;
}
inline std::int64_t getDate(const property_t& p) {
  return detail::expect<property_date_t>(p, "property_date_t").value;
}
inline std::int32_t getInt(const property_t& p) {
  return detail::expect<property_int_t>(p, "property_int_t").value;
}
inline std::uint32_t getUint(const property_t& p) {
  return detail::expect<property_uint_t>(p, "property_uint_t").value;
}
inline bool getBoolean(const property_t& p) {
  return detail::expect<property_boolean_t>(p, "property_boolean_t").value;
}

// The value of an enum property whose type number, in its low 17 bits, is
// `expectedType`. Throws errors::tql (code 9) "Null given for property_t: NAME"
// for a null, "Type mismatch for property_t: NAME [exp:E,actual:A" for
// another enum type and "... [exp:E,actual: non-enum" for a non-enum.
inline std::uint32_t getEnum(const property_t& p, std::int32_t expectedType) {
  if (p.isNull) [[unlikely]]
    detail::throwNullGiven("property_t", p);
  if (p.typeCode() != property_enum_t::kTypeCode) [[unlikely]]
    detail::throwEnumTypeMismatch(p, expectedType);
  const auto& e = static_cast<const property_enum_t&>(p);
  if (static_cast<std::int32_t>(e.enumType & 0x1ffff) != expectedType) [[unlikely]]
    detail::throwEnumTypeMismatch(p, expectedType);
  return e.value;
}

// The same getters on a property looked up by number; a missing property
// throws as property() does.
template <property_holder Object>
const std::string& getString(const Object& object, std::uint32_t number) {
  return getString(property(object, number));
}
template <property_holder Object>
std::int64_t getDate(const Object& object, std::uint32_t number) {
  return getDate(property(object, number));
}
template <property_holder Object>
std::int32_t getInt(const Object& object, std::uint32_t number) {
  return getInt(property(object, number));
}
template <property_holder Object>
std::uint32_t getUint(const Object& object, std::uint32_t number) {
  return getUint(property(object, number));
}
template <property_holder Object>
bool getBoolean(const Object& object, std::uint32_t number) {
  return getBoolean(property(object, number));
}
template <property_holder Object>
std::uint32_t getEnum(const Object& object, std::uint32_t number, std::int32_t expectedType) {
  return getEnum(property(object, number), expectedType);
}

}  // namespace tql
