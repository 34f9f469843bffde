// The relational operators on property values. A comparison first checks
// that both sides have the same type, then reduces the pair to an order code
// c: -2 (left before right), 0 (equal) or 2 (left after right); two strings
// that differ only in letter case give -1 or 1 instead. The operator is then a
// test on c. Null sorts before every value and equals another null.
#include <algorithm>
#include <cmath>
#include <string_view>
#include <tuple>

#include "tql/errors.h"
#include "tql/property.h"
#include "tql/schema.h"

namespace tql {
namespace {

constexpr int kBefore = -2;
constexpr int kAfter = 2;

[[noreturn]] void throwTypeMismatch(std::string_view typeText, const property_t& other) {
  throw errors::tql_incomparable("Type mismatch, " + std::string(typeText) + " != type of " +
                                 propertyName(other.property));
}

// `other` as the concrete type T, or the type-mismatch error naming the left
// side's type as `typeText`.
template <class T>
const T& sameType(const property_t& other, std::string_view typeText) {
  if (other.typeCode() != T::kTypeCode) [[unlikely]]
    throwTypeMismatch(typeText, other);
  return static_cast<const T&>(other);
}

// The order code when at least one side is null.
int nullOrder(const property_t& left, const property_t& right) {
  if (left.isNull && right.isNull) return 0;
  return left.isNull ? kBefore : kAfter;
}

bool applyOperator(int op, int c) {
  switch (op) {
    case kRelEqual:
      return c == 0;
    case kRelGreater:
      return c > 0;
    case kRelLess:
      return c < 0;
    case kRelGreaterOrEqual:
      return c >= 0;
    case kRelLessOrEqual:
      return c <= 0;
    case kRelNotEqual:
      return c != 0;
    case kRelEqualIgnoreCase:
      return c >= -1 && c <= 1;
    case kRelNotEqualIgnoreCase:
      return c == kBefore || c == kAfter;
  }
  throw errors::tql_incomparable("Unknown relative operator");
}

template <class T>
int orderOf(const T& a, const T& b) {
  if (a < b) return kBefore;
  return b < a ? kAfter : 0;
}

// Lists: the shorter one first; at equal length the first differing element.
template <class List>
int orderLengthFirst(const List& a, const List& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? kBefore : kAfter;
  return orderOf(a, b);
}

// NaN after every number and equal to NaN: a total order, so that sorting by
// real values never sees a NaN equal to everything.
int orderReals(double a, double b) {
  const bool aNan = std::isnan(a);
  const bool bNan = std::isnan(b);
  if (aNan || bNan) {
    if (aNan == bNan) return 0;
    return aNan ? kAfter : kBefore;
  }
  return orderOf(a, b);
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

bool containsIgnoringCase(std::string_view text, std::string_view part) {
  return std::search(text.begin(), text.end(), part.begin(), part.end(),
                     [](char x, char y) { return lowerAscii(x) == lowerAscii(y); }) != text.end();
}

// Byte order decides the sign; texts equal but for ASCII letter case are
// only one step apart, which the case-insensitive operators accept as equal.
int orderStrings(const std::string& a, const std::string& b) {
  const int sign = a.compare(b);
  if (sign == 0) return 0;
  const int magnitude = equalIgnoringCase(a, b) ? 1 : 2;
  return sign < 0 ? -magnitude : magnitude;
}

bool sharesAnId(const std::set<id_t>& a, const std::set<id_t>& b) {
  auto i = a.begin();
  auto j = b.begin();
  while (i != a.end() && j != b.end()) {
    if (*i < *j) {
      ++i;
    } else if (*j < *i) {
      ++j;
    } else {
      return true;
    }
  }
  return false;
}

// The common path: same type, nulls, then `order` on two present values.
template <class T, class Order>
bool compareBy(const T& left, int op, const property_t& other, std::string_view typeText,
               Order order) {
  const T& right = sameType<T>(other, typeText);
  const int c = left.isNull || right.isNull ? nullOrder(left, right) : order(left, right);
  return applyOperator(op, c);
}

// Same, ordering the `value` fields by their own operator<.
template <class T>
bool compareValues(const T& left, int op, const property_t& other, std::string_view typeText) {
  return compareBy(left, op, other, typeText,
                   [](const T& a, const T& b) { return orderOf(a.value, b.value); });
}

std::string signedText(std::uint32_t n) { return std::to_string(static_cast<std::int32_t>(n)); }

}  // namespace

bool property_string_t::compare(int op, const property_t& other) const {
  const auto& right = sameType<property_string_t>(other, "string");
  // With a null side "contains" is not handled here and ends as an unknown
  // operator below.
  if (op == kRelContains && !isNull && !right.isNull) {
    return containsIgnoringCase(value, right.value);
  }
  return compareBy(*this, op, other, "string",
                   [](const auto& a, const auto& b) { return orderStrings(a.value, b.value); });
}

bool property_string_list_t::compare(int op, const property_t& other) const {
  return compareBy(*this, op, other, "string_list",
                   [](const auto& a, const auto& b) { return orderLengthFirst(a.value, b.value); });
}

bool property_object_set_t::compare(int op, const property_t& other) const {
  const auto& right = sameType<property_object_set_t>(other, "object_set");
  // std::set keeps both sides in id order, so each test is one merge walk.
  switch (op) {
    case kRelSubset:
      if (isNull) return true;
      if (right.isNull) return false;
      return std::includes(right.value.begin(), right.value.end(), value.begin(), value.end());
    case kRelSuperset:
      if (right.isNull) return true;
      if (isNull) return false;
      return std::includes(value.begin(), value.end(), right.value.begin(), right.value.end());
    case kRelIntersects:
      if (isNull || right.isNull) return false;
      return sharesAnId(value, right.value);
  }
  // Sets are equal or not; an unequal set counts as "after", never "before".
  return compareBy(*this, op, other, "object_set",
                   [](const auto& a, const auto& b) { return a.value == b.value ? 0 : kAfter; });
}

bool property_object_t::compare(int op, const property_t& other) const {
  if (op == kRelMemberOf) {
    const auto& set = sameType<property_object_set_t>(other, "object_set");
    if (isNull || set.isNull) return false;
    return set.value.contains(value);
  }
  return compareValues(*this, op, other, "object");
}

bool property_version_t::compare(int op, const property_t& other) const {
  return compareBy(*this, op, other, "object", [](const auto& a, const auto& b) {
    return orderOf(std::tie(a.major, a.minor), std::tie(b.major, b.minor));
  });
}

bool property_action_t::compare(int op, const property_t& other) const {
  return compareValues(*this, op, other, "action");
}

bool property_real_t::compare(int op, const property_t& other) const {
  return compareBy(*this, op, other, "real",
                   [](const auto& a, const auto& b) { return orderReals(a.value, b.value); });
}

bool property_bignum_t::compare(int op, const property_t& other) const {
  return compareValues(*this, op, other, "bignum");
}

bool property_gid_t::compare(int op, const property_t& other) const {
  return compareValues(*this, op, other, "GID");
}

bool property_gid_list_t::compare(int op, const property_t& other) const {
  return compareBy(*this, op, other, "GIDList",
                   [](const auto& a, const auto& b) { return orderLengthFirst(a.value, b.value); });
}

bool property_date_t::compare(int op, const property_t& other) const {
  return compareValues(*this, op, other, "date");
}

bool property_index_t::compare(int op, const property_t& other) const {
  return compareValues(*this, op, other, "index");
}

bool property_int_t::compare(int op, const property_t& other) const {
  return compareValues(*this, op, other, "int");
}

bool property_uint_t::compare(int op, const property_t& other) const {
  return compareValues(*this, op, other, "uint");
}

bool property_boolean_t::compare(int op, const property_t& other) const {
  return compareValues(*this, op, other, "boolean");
}

bool property_blob_t::compare(int op, const property_t& other) const {
  return compareValues(*this, op, other, "blob");
}

bool property_lob_t::compare(int op, const property_t& other) const {
  return compareValues(*this, op, other, "lob");
}

bool property_oid_t::compare(int op, const property_t& other) const {
  return compareBy(*this, op, other, "GIDList",
                   [](const auto& a, const auto& b) { return orderLengthFirst(a.value, b.value); });
}

bool property_enum_t::compare(int op, const property_t& other) const {
  // An enum against any other type reads as an int mismatch.
  const auto& right = sameType<property_enum_t>(other, "int");
  if (right.enumType != enumType) {
    throw errors::tql_incomparable("Type mismatch, enum (" + signedText(enumType) + ") != enum (" +
                                   signedText(right.enumType) + ") of " +
                                   propertyName(other.property));
  }
  return compareBy(*this, op, other, "int",
                   [](const auto& a, const auto& b) { return orderOf(a.value, b.value); });
}

}  // namespace tql
