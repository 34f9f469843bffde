#include "tql/property.h"

#include <charconv>
#include <cmath>

namespace tql {
namespace {

// "0a:0b:0c:0d": the four bytes of a group id, most significant first.
void appendGid(std::string& out, std::uint32_t gid) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned byte = (gid >> shift) & 0xff;
    out += kHex[byte >> 4];
    out += kHex[byte & 0xf];
    if (shift > 0) out += ':';
  }
}

std::string gidListText(const std::vector<std::uint32_t>& gids) {
  std::string text;
  text.reserve(gids.size() * 13);
  for (std::size_t i = 0; i < gids.size(); ++i) {
    if (i > 0) text += ", ";
    appendGid(text, gids[i]);
  }
  return text;
}

std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  out += text;
  out += '"';
  return out;
}

}  // namespace

std::string property_string_t::toString() const { return quoted(value); }

std::string property_string_list_t::toString() const {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (i > 0) text += ", ";
    text += quoted(value[i]);
  }
  return text;
}

std::string property_object_set_t::toString() const {
  std::string text;
  for (const id_t& id : value) {
    if (!text.empty()) text += ", ";
    text += id.toString();
  }
  return text;
}

std::string property_object_t::toString() const { return quoted(value.toString()); }

std::string property_version_t::toString() const {
  return quoted(std::to_string(major) + ".1." + std::to_string(minor));
}

std::string property_action_t::toString() const { return "(null)"; }

std::string property_real_t::toString() const {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // The widest finite double has 309 integer digits; to_chars, unlike printf,
  // ignores the locale's decimal point.
  char buffer[400];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  HX_CHECK(result.ec == std::errc(), "Real value does not fit its text buffer");
  return std::string(buffer, result.ptr);
}

std::string property_bignum_t::toString() const { return value.toString(); }

std::string property_gid_t::toString() const {
  std::string text;
  appendGid(text, value);
  return text;
}

std::string property_gid_list_t::toString() const { return gidListText(value); }

std::string property_date_t::toString() const {
  return std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}

std::string property_index_t::toString() const { return std::to_string(value); }
std::string property_int_t::toString() const { return std::to_string(value); }
std::string property_uint_t::toString() const { return std::to_string(value); }
std::string property_boolean_t::toString() const { return value ? "true" : "false"; }
std::string property_blob_t::toString() const { return "BLOB"; }
std::string property_lob_t::toString() const { return "LOB"; }
std::string property_oid_t::toString() const { return gidListText(value); }

std::string property_enum_t::toString() const {
  return "enum(" + std::to_string(enumType) + ", " + std::to_string(value) + ")";
}

property_ptr makeProperty(std::uint32_t typeCode) {
  switch (typeCode) {
    case property_string_t::kTypeCode:
      return std::make_unique<property_string_t>();
    case property_string_list_t::kTypeCode:
      return std::make_unique<property_string_list_t>();
    case property_object_set_t::kTypeCode:
      return std::make_unique<property_object_set_t>();
    case property_object_t::kTypeCode:
      return std::make_unique<property_object_t>();
    case property_version_t::kTypeCode:
      return std::make_unique<property_version_t>();
    case property_action_t::kTypeCode:
      return std::make_unique<property_action_t>();
    case property_real_t::kTypeCode:
      return std::make_unique<property_real_t>();
    case property_bignum_t::kTypeCode:
      return std::make_unique<property_bignum_t>();
    case property_gid_t::kTypeCode:
      return std::make_unique<property_gid_t>();
    case property_gid_list_t::kTypeCode:
      return std::make_unique<property_gid_list_t>();
    case property_date_t::kTypeCode:
      return std::make_unique<property_date_t>();
    case property_index_t::kTypeCode:
      return std::make_unique<property_index_t>();
    case property_int_t::kTypeCode:
      return std::make_unique<property_int_t>();
    case property_uint_t::kTypeCode:
      return std::make_unique<property_uint_t>();
    case property_boolean_t::kTypeCode:
      return std::make_unique<property_boolean_t>();
    case property_blob_t::kTypeCode:
      return std::make_unique<property_blob_t>();
    case property_lob_t::kTypeCode:
      return std::make_unique<property_lob_t>();
    case property_oid_t::kTypeCode:
      return std::make_unique<property_oid_t>();
    case property_enum_t::kTypeCode:
      return std::make_unique<property_enum_t>();
  }
  return nullptr;
}

}  // namespace tql
