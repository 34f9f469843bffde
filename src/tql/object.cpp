#include "tql/object.h"

namespace tql {

std::string version_t::toString() const { return property_version_t(0, major, minor).toString(); }

object_t::object_t(const object_t& other)
    : class_(other.class_),
      flags(other.flags),
      tags(other.tags),
      id(other.id),
      version(other.version),
      origin(other.origin) {
  properties.reserve(other.properties.size());
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
