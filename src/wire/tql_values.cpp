#include "wire/tql_values.h"

#include <type_traits>

namespace tql {

std::string version_t::toString() const { return property_version_t(0, major, minor).toString(); }

object_t::object_t(const object_t& other)
    : class_(other.class_),
      flags(other.flags),
      tags(other.tags),
      id(other.id),
      version(other.version),
      origin(other.origin) {
  for (const auto& [number, p] : other.properties) properties.emplace(number, p->clone());
  children.reserve(other.children.size());
  for (const auto& child : other.children) children.push_back(std::make_unique<object_t>(*child));
}

object_t& object_t::operator=(const object_t& other) {
  if (this != &other) *this = object_t(other);
  return *this;
}

condition_t::condition_t(const condition_t& other)
    : prop(other.prop ? other.prop->clone() : nullptr), rel_op(other.rel_op) {}

condition_t& condition_t::operator=(const condition_t& other) {
  if (this != &other) *this = condition_t(other);
  return *this;
}

}  // namespace tql

namespace protocol {

namespace {

template <class T>
constexpr bool kIsByteString =
    std::is_same_v<T, tql::property_blob_t> || std::is_same_v<T, tql::property_lob_t>;

template <class T>
void writeValue(ioprim& io, const T& p) {
  if constexpr (kIsByteString<T>) {
    io.putString(p.value.data(), p.value.size());
  } else if constexpr (std::is_same_v<T, tql::property_bignum_t>) {
    const std::string text = p.value.toString();
    io.putString(text.data(), text.size());
  } else if constexpr (std::is_same_v<T, tql::property_object_t>) {
    protocol::write(io, p.value);
    protocol::write(io, p.extraId1);
    protocol::write(io, p.extraId2);
    io.put<std::uint32_t>(p.extraWord);
  } else if constexpr (std::is_same_v<T, tql::property_version_t>) {
    io.put<std::uint64_t>(p.major);
    io.put<std::uint64_t>(p.minor);
  } else if constexpr (std::is_same_v<T, tql::property_enum_t>) {
    io.put<std::uint32_t>(p.enumType);
    io.put<std::uint32_t>(p.value);
  } else {
    protocol::write(io, p.value);
  }
}

template <class T>
void readValue(ioprim& io, T& p) {
  if constexpr (kIsByteString<T>) {
    io.getString(p.value);
  } else if constexpr (std::is_same_v<T, tql::property_bignum_t>) {
    std::string text;
    io.getString(text);
    p.value = tql::bignum_t::parse(text);
  } else if constexpr (std::is_same_v<T, tql::property_object_t>) {
    protocol::read(io, p.value);
    protocol::read(io, p.extraId1);
    protocol::read(io, p.extraId2);
    p.extraWord = io.get<std::uint32_t>();
  } else if constexpr (std::is_same_v<T, tql::property_version_t>) {
    p.major = io.get<std::uint64_t>();
    p.minor = io.get<std::uint64_t>();
  } else if constexpr (std::is_same_v<T, tql::property_enum_t>) {
    p.enumType = io.get<std::uint32_t>();
    p.value = io.get<std::uint32_t>();
  } else {
    protocol::read(io, p.value);
  }
}

}  // namespace

void codec<tql::property_ptr>::write(ioprim& io, const tql::property_ptr& value) {
  if (value == nullptr) {
    io.put<std::uint32_t>(tql::kNoPropertyType);
    return;
  }
  io.put<std::uint32_t>(value->typeCode());
  io.put<std::uint32_t>(value->property);
  io.put<std::uint32_t>(value->isNull ? 1 : 0);
  io.put<std::uint32_t>(value->aux);
  tql::visitProperty(*value, [&](const auto& p) { writeValue(io, p); });
}

void codec<tql::property_ptr>::read(ioprim& io, tql::property_ptr& value) {
  value = tql::makeProperty(io.get<std::uint32_t>());
  if (value == nullptr) return;
  value->property = io.get<std::uint32_t>();
  value->isNull = io.get<std::uint32_t>() != 0;
  value->aux = io.get<std::uint32_t>();
  tql::visitProperty(*value, [&](auto& p) { readValue(io, p); });
}

void codec<tql::property_ptr>::print(std::ostream& out, const tql::property_ptr& value, int) {
  if (value == nullptr) {
    out << "(none)";
  } else if (value->isNull) {
    out << "null";
  } else {
    out << value->toString();
  }
}

}  // namespace protocol
