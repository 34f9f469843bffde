#pragma once
// Typed property values of database objects. Every value carries the
// property number it belongs to, a null flag (the property exists but holds no
// value) and an `aux` word that is carried unchanged. Each concrete type has a
// type code (7 to 25), which is how values are told apart on the wire and in
// comparisons.
//
// All fields are public so that the event encoding can read and write them
// directly: makeProperty builds an empty value for a type code read from the
// wire, and visitProperty hands the concrete type of a value to an overloaded
// function object, which is how a writer reaches each type's fields.
//
// Comparison follows the database's relational operators (kRelEqual and the
// rest below); both sides must be of the same type, else errors::tql_incomparable.
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "error/check.h"
#include "tql/bignum.h"
#include "tql/id.h"

namespace tql {

// Relational operator numbers, as used in patterns and in property_t::compare.
inline constexpr int kRelEqual = 1;
inline constexpr int kRelGreater = 2;
inline constexpr int kRelLess = 3;
inline constexpr int kRelGreaterOrEqual = 4;
inline constexpr int kRelLessOrEqual = 5;
inline constexpr int kRelNotEqual = 6;
inline constexpr int kRelEqualIgnoreCase = 7;
inline constexpr int kRelNotEqualIgnoreCase = 8;
inline constexpr int kRelSubset = 9;       // object sets: left within right
inline constexpr int kRelSuperset = 10;    // object sets: left holds all of right
inline constexpr int kRelIntersects = 11;  // object sets: at least one common id
inline constexpr int kRelMemberOf = 12;    // object in an object set
inline constexpr int kRelContains = 14;    // strings: substring, ignoring case

struct property_t;
using property_ptr = std::unique_ptr<property_t>;

// The highest property number a value can carry: the number shares its word
// with the null flag. Schema numbers are far below it; the event reader
// rejects a larger one.
inline constexpr std::uint32_t kMaxPropertyNumber = 0x7fffffff;

struct property_t {
  // The number and the null flag share one 32-bit word, so that the fields
  // after the vtable pointer take 8 bytes: a value of up to 8 bytes (int,
  // enum, date) then fits a 24-byte object, the smallest heap block.
  std::uint32_t property : 31 = 0;  // property number in the schema
  bool isNull : 1 = false;          // the property exists but holds no value
  std::uint32_t aux = 0;            // carried unchanged, never interpreted here

  virtual std::uint32_t typeCode() const = 0;
  virtual ~property_t() = default;
  virtual property_ptr clone() const = 0;
  // Text of the value, whether or not isNull is set: callers that print null
  // properties differently check isNull themselves.
  virtual std::string toString() const = 0;
  // Applies relational operator `op` to this value (left) and `other`
  // (right). Throws errors::tql_incomparable for a type mismatch or an
  // operator that the type does not support.
  virtual bool compare(int op, const property_t& other) const = 0;

 protected:
  property_t() = default;
  explicit property_t(std::uint32_t number) : property(number) {
    HX_CHECK(number <= kMaxPropertyNumber,
             "Property number " + std::to_string(number) + " does not fit a property value");
  }
  // Copying only through a concrete type (or clone), never by slicing.
  property_t(const property_t&) = default;
  property_t(property_t&&) = default;
  property_t& operator=(const property_t&) = default;
  property_t& operator=(property_t&&) = default;
};

// Type code and clone for a concrete type.
template <class Derived, std::uint32_t Code>
struct property_impl : property_t {
  static constexpr std::uint32_t kTypeCode = Code;
  std::uint32_t typeCode() const final { return Code; }
  property_ptr clone() const final {
    return std::make_unique<Derived>(static_cast<const Derived&>(*this));
  }

 protected:
  using property_t::property_t;
};

// A concrete type whose value is one field, `value`.
template <class Derived, std::uint32_t Code, class Value>
struct property_value_t : property_impl<Derived, Code> {
  using value_type = Value;
  Value value{};

  property_value_t() = default;
  property_value_t(std::uint32_t number, Value v)
      : property_impl<Derived, Code>(number), value(std::move(v)) {}
};

// Declares a concrete single-value type with the usual constructors.
#define HX_TQL_VALUE_PROPERTY(name, code, Value)                  \
  struct name final : property_value_t<name, code, Value> {       \
    using property_value_t::property_value_t;                     \
    std::string toString() const override;                        \
    bool compare(int op, const property_t& other) const override; \
  }

// "text" in double quotes; ordered case-sensitively, byte by byte.
HX_TQL_VALUE_PROPERTY(property_string_t, 7, std::string);
// The texts in double quotes, joined by ", ".
HX_TQL_VALUE_PROPERTY(property_string_list_t, 8, std::vector<std::string>);
// The ids joined by ", ". Only equal or not equal under the ordering
// operators, plus subset, superset and intersection.
HX_TQL_VALUE_PROPERTY(property_object_set_t, 9, std::set<id_t>);
// The action's number; prints as "(null)".
HX_TQL_VALUE_PROPERTY(property_action_t, 12, std::int32_t);
// Fixed point with six decimals; a NaN orders above every number and equal
// to another NaN, so that sorting by real values stays consistent.
HX_TQL_VALUE_PROPERTY(property_real_t, 13, double);
HX_TQL_VALUE_PROPERTY(property_bignum_t, 14, bignum_t);
// A group id: four bytes most significant first, as in 0a:0b:0c:0d.
HX_TQL_VALUE_PROPERTY(property_gid_t, 15, std::uint32_t);
// Group ids joined by ", "; ordered by length first, then element-wise.
HX_TQL_VALUE_PROPERTY(property_gid_list_t, 16, std::vector<std::uint32_t>);
// Seconds since 1970; prints the low 32 bits as a signed number, compares the
// whole value.
HX_TQL_VALUE_PROPERTY(property_date_t, 17, std::int64_t);
HX_TQL_VALUE_PROPERTY(property_index_t, 18, std::uint32_t);
HX_TQL_VALUE_PROPERTY(property_int_t, 19, std::int32_t);
HX_TQL_VALUE_PROPERTY(property_uint_t, 20, std::uint32_t);
HX_TQL_VALUE_PROPERTY(property_boolean_t, 21, bool);
// Byte strings, ordered byte by byte (unsigned), a prefix first.
HX_TQL_VALUE_PROPERTY(property_blob_t, 22, std::vector<std::uint8_t>);
HX_TQL_VALUE_PROPERTY(property_lob_t, 23, std::vector<std::uint8_t>);
// Components printed and ordered as a gid list.
HX_TQL_VALUE_PROPERTY(property_oid_t, 24, std::vector<std::uint32_t>);

#undef HX_TQL_VALUE_PROPERTY

// A reference to another object: the target id (printed in double quotes and
// used for ordering and set membership) plus two ids and a word that travel
// with it uninterpreted.
struct property_object_t final : property_impl<property_object_t, 10> {
  id_t value;  // the target
  id_t extraId1;
  id_t extraId2;
  std::uint32_t extraWord = 0;

  property_object_t() = default;
  property_object_t(std::uint32_t number, id_t target) : property_impl(number), value(target) {}
  std::string toString() const override;
  bool compare(int op, const property_t& other) const override;
};

// A (major, minor) version pair, ordered by major then minor.
struct property_version_t final : property_impl<property_version_t, 11> {
  std::uint64_t major = 0;
  std::uint64_t minor = 0;

  property_version_t() = default;
  property_version_t(std::uint32_t number, std::uint64_t majorPart, std::uint64_t minorPart)
      : property_impl(number), major{majorPart}, minor{minorPart} {}
  std::string toString() const override;
  bool compare(int op, const property_t& other) const override;
};

// A value of an enumeration type: values compare only within the same type.
struct property_enum_t final : property_impl<property_enum_t, 25> {
  std::uint32_t enumType = 0;
  std::uint32_t value = 0;

  property_enum_t() = default;
  property_enum_t(std::uint32_t number, std::uint32_t type, std::uint32_t v)
      : property_impl(number), enumType(type), value(v) {}
  std::string toString() const override;
  bool compare(int op, const property_t& other) const override;
};

// Values of up to 8 bytes fill the smallest heap block with the fields of
// property_t (see there).
static_assert(sizeof(void*) != 8 ||
              (sizeof(property_int_t) == 24 && sizeof(property_enum_t) == 24 &&
               sizeof(property_date_t) == 24));

inline constexpr std::uint32_t kFirstPropertyType = 7;
inline constexpr std::uint32_t kLastPropertyType = 25;
// The type code that stands for "no property" on the wire.
inline constexpr std::uint32_t kNoPropertyType = 0;

// A default value (not null, zero or empty, property 0) of the given type, or
// nullptr for a code outside 7 to 25.
property_ptr makeProperty(std::uint32_t typeCode);

// Calls visitor(concrete) with the value cast to its concrete type (const
// when `p` is const) and returns what the visitor returns.
template <class P, class Visitor>
requires std::is_same_v<std::remove_const_t<P>, property_t>
decltype(auto) visitProperty(P& p, Visitor&& visitor) {
  // The concrete type T with the constness of P.
#define HX_TQL_VISIT(T) \
  case T::kTypeCode:    \
    return visitor(static_cast<std::conditional_t<std::is_const_v<P>, const T&, T&>>(p))
  switch (p.typeCode()) {
    HX_TQL_VISIT(property_string_t);
    HX_TQL_VISIT(property_string_list_t);
    HX_TQL_VISIT(property_object_set_t);
    HX_TQL_VISIT(property_object_t);
    HX_TQL_VISIT(property_version_t);
    HX_TQL_VISIT(property_action_t);
    HX_TQL_VISIT(property_real_t);
    HX_TQL_VISIT(property_bignum_t);
    HX_TQL_VISIT(property_gid_t);
    HX_TQL_VISIT(property_gid_list_t);
    HX_TQL_VISIT(property_date_t);
    HX_TQL_VISIT(property_index_t);
    HX_TQL_VISIT(property_int_t);
    HX_TQL_VISIT(property_uint_t);
    HX_TQL_VISIT(property_boolean_t);
    HX_TQL_VISIT(property_blob_t);
    HX_TQL_VISIT(property_lob_t);
    HX_TQL_VISIT(property_oid_t);
    HX_TQL_VISIT(property_enum_t);
  }
#undef HX_TQL_VISIT
  error::assertionFailed("Property with unknown type code " + std::to_string(p.typeCode()));
}

}  // namespace tql
