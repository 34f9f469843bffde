#include "queues/tql_values.h"

#include <algorithm>
#include <string>
#include <type_traits>
#include <utility>

#include "error/exception.h"

namespace queues {

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
    queues::write(io, p.value);
    queues::write(io, p.extraId1);
    queues::write(io, p.extraId2);
    io.put<std::uint32_t>(p.extraWord);
  } else if constexpr (std::is_same_v<T, tql::property_version_t>) {
    io.put<std::uint64_t>(p.major);
    io.put<std::uint64_t>(p.minor);
  } else if constexpr (std::is_same_v<T, tql::property_enum_t>) {
    io.put<std::uint32_t>(p.enumType);
    io.put<std::uint32_t>(p.value);
  } else {
    queues::write(io, p.value);
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
    queues::read(io, p.value);
    queues::read(io, p.extraId1);
    queues::read(io, p.extraId2);
    p.extraWord = io.get<std::uint32_t>();
  } else if constexpr (std::is_same_v<T, tql::property_version_t>) {
    p.major = io.get<std::uint64_t>();
    p.minor = io.get<std::uint64_t>();
  } else if constexpr (std::is_same_v<T, tql::property_enum_t>) {
    p.enumType = io.get<std::uint32_t>();
    p.value = io.get<std::uint32_t>();
  } else {
    queues::read(io, p.value);
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
  const auto number = io.get<std::uint32_t>();
  if (number > tql::kMaxPropertyNumber) {
    throw error::EParseError("Property number " + std::to_string(number) +
                             " out of range (at most " + std::to_string(tql::kMaxPropertyNumber) +
                             ")");
  }
  value->property = number;
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

void codec<tql::PropertyMap>::write(ioprim& io, const tql::PropertyMap& value) {
  io.put<std::uint32_t>(static_cast<std::uint32_t>(value.size()));
  for (const auto& p : value) {
    io.put<std::uint32_t>(p->property);
    queues::write(io, p);
  }
}

void codec<tql::PropertyMap>::read(ioprim& io, tql::PropertyMap& value) {
  const std::uint32_t count = io.get<std::uint32_t>();
  value.clear();
  value.reserve(std::min(count, kMaxReserve));
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto number = io.get<std::uint32_t>();
    tql::property_ptr p;
    queues::read(io, p);
    if (p == nullptr) continue;
    // The map files a value under its own number: an entry whose key says
    // otherwise cannot be kept as sent.
    if (p->property != number) {
      throw error::EParseError("Property map entry " + std::to_string(number) + " holds property " +
                               std::to_string(p->property));
    }
    value.insert_or_assign(std::move(p));
  }
}

void codec<tql::PropertyMap>::print(std::ostream& out, const tql::PropertyMap& value, int depth) {
  out << "map {\n";
  for (const auto& p : value) {
    indent(out, depth);
    out << "  key: ";
    queues::print(out, std::uint32_t{p->property}, depth + 1);
    out << '\n';
    indent(out, depth);
    out << "  value: ";
    queues::print(out, p, depth + 1);
    out << '\n';
  }
  indent(out, depth);
  out << '}';
}

}  // namespace queues
