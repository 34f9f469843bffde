#include "tql/id.h"

#include <charconv>
#include <ostream>
#include <type_traits>

#include "error/exception.h"

namespace tql {

static_assert(std::is_trivially_copyable_v<id_t>);
static_assert(sizeof(id_t) == 16);

void id_t::throwResizeOverflow(std::size_t n) {
  throw error::ERange("small vector resize overflow " + std::to_string(n) + " > " +
                      std::to_string(kMaxSize));
}

void id_t::throwReferenceOverflow(std::size_t i) {
  throw error::ERange("small vector reference overflow " + std::to_string(i) +
                      " >= " + std::to_string(kMaxSize));
}

std::string id_t::toString() const {
  std::string text;
  text.reserve(size_ * 11);
  for (std::uint32_t i = 0; i < size_; ++i) {
    if (i > 0) text += '.';
    text += std::to_string(c_[i]);
  }
  return text;
}

id_t id_t::parse(std::string_view text) {
  id_t id;
  if (text.empty()) return id;
  const auto bad = [&](const char* why) {
    return error::EParseError("Bad object id \"" + std::string(text) + "\": " + why);
  };
  const char* at = text.data();
  const char* const end = text.data() + text.size();
  while (true) {
    if (id.size() == kMaxSize) throw bad("more than 3 components");
    std::uint32_t component = 0;
    // from_chars accepts neither a sign nor leading blanks, which is the strict
    // form wanted here.
    const auto [next, ec] = std::from_chars(at, end, component);
    if (ec == std::errc::result_out_of_range) throw bad("component out of range");
    if (ec != std::errc() || next == at) throw bad("expected a decimal component");
    id.push_back(component);
    at = next;
    if (at == end) return id;
    if (*at != '.') throw bad("expected '.' between components");
    ++at;
  }
}

std::ostream& operator<<(std::ostream& out, const id_t& id) { return out << id.toString(); }

}  // namespace tql
