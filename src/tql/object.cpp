#include "tql/object.h"

#include <algorithm>

namespace tql {

TagSet::TagSet(std::initializer_list<std::uint32_t> tags) {
  assign(std::vector<std::uint32_t>(tags));
}

TagSet::TagSet(const TagSet& other) {
  if (other.empty()) return;
  regrow(other.size());
  std::copy(other.begin(), other.end(), block_.get() + kHeader);
  block_[0] = static_cast<std::uint32_t>(other.size());
}

TagSet& TagSet::operator=(const TagSet& other) {
  if (this != &other) *this = TagSet(other);
  return *this;
}

bool TagSet::contains(std::uint32_t tag) const { return std::binary_search(begin(), end(), tag); }

std::pair<TagSet::const_iterator, bool> TagSet::insert(std::uint32_t tag) {
  const std::size_t at = static_cast<std::size_t>(std::lower_bound(begin(), end(), tag) - begin());
  if (at < size() && begin()[at] == tag) return {begin() + at, false};
  if (size() == room()) regrow(std::max<std::size_t>(4, 2 * size()));
  std::uint32_t* tags = block_.get() + kHeader;
  std::copy_backward(tags + at, tags + size(), tags + size() + 1);
  tags[at] = tag;
  ++block_[0];
  return {begin() + at, true};
}

void TagSet::assign(std::vector<std::uint32_t> tags) {
  std::sort(tags.begin(), tags.end());
  tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
  block_.reset();
  if (tags.empty()) return;
  regrow(tags.size());
  std::copy(tags.begin(), tags.end(), block_.get() + kHeader);
  block_[0] = static_cast<std::uint32_t>(tags.size());
}

bool operator==(const TagSet& a, const TagSet& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

void TagSet::regrow(std::size_t room) {
  auto block = std::make_unique_for_overwrite<std::uint32_t[]>(kHeader + room);
  std::copy(begin(), end(), block.get() + kHeader);
  block[0] = static_cast<std::uint32_t>(size());
  block[1] = static_cast<std::uint32_t>(room);
  block_ = std::move(block);
}

std::string version_t::toString() const { return property_version_t(0, major, minor).toString(); }

object_t::object_t(const object_t& other)
    : class_(other.class_),
      flags(other.flags),
      tags(other.tags),
      id(other.id),
      version(other.version),
      origin(other.origin) {
  properties.reserve(other.properties.size());
  for (const auto& p : other.properties) properties.insert(p->clone());
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
