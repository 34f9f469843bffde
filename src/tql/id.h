#pragma once
// Object identifiers of the object database: zero to three unsigned 32-bit
// components, held inline. Ids key the process-wide registries and the
// subscription index (100k+ entries), so an id is trivially copyable, 16
// bytes, ordered and hashable without touching the heap.
//
// Ordering is lexicographic by component, compared as unsigned numbers, and a
// proper prefix sorts before every longer id that starts with it:
// 1.1.9 < 1.2 < 1.2.0 < 1.3. The text form joins the components in decimal
// with "." (the empty id prints as an empty text).
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <string_view>

namespace tql {

class id_t {
 public:
  static constexpr std::size_t kMaxSize = 3;

  constexpr id_t() noexcept = default;
  // Throws error::ERange when given more than three components.
  constexpr id_t(std::initializer_list<std::uint32_t> components) {
    resize(components.size());
    std::size_t i = 0;
    for (std::uint32_t c : components) c_[i++] = c;
  }

  constexpr std::size_t size() const noexcept { return size_; }
  constexpr bool empty() const noexcept { return size_ == 0; }

  // Grows with zero components or shrinks. Throws error::ERange
  // "small vector resize overflow N > 3" for N above 3; the id is unchanged.
  constexpr void resize(std::size_t n) {
    if (n > kMaxSize) throwResizeOverflow(n);
    for (std::size_t i = n; i < size_; ++i) c_[i] = 0;  // keeps unused slots zero
    size_ = static_cast<std::uint32_t>(n);
  }
  // Appends one component; throws error::ERange as resize(size() + 1) would.
  constexpr void push_back(std::uint32_t component) {
    resize(size_ + 1);
    c_[size_ - 1] = component;
  }
  constexpr void clear() noexcept { *this = id_t(); }

  // Component access, checked against the current length: an index not below
  // size() throws error::ERange "small vector reference overflow I >= 3".
  constexpr std::uint32_t operator[](std::size_t i) const {
    if (i >= size_) throwReferenceOverflow(i);
    return c_[i];
  }
  constexpr std::uint32_t& operator[](std::size_t i) {
    if (i >= size_) throwReferenceOverflow(i);
    return c_[i];
  }

  constexpr const std::uint32_t* begin() const noexcept { return c_; }
  constexpr const std::uint32_t* end() const noexcept { return c_ + size_; }

  // "0.1.5"; the empty id gives "".
  std::string toString() const;
  // The inverse of toString: up to three decimal components joined by ".".
  // Anything else (a sign, a blank, an empty or out-of-range component, a
  // fourth component) throws error::EParseError.
  static id_t parse(std::string_view text);

  std::size_t hash() const noexcept {
    std::uint64_t h = size_;
    for (std::uint32_t c : *this) h = (h ^ c) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(h ^ (h >> 29));
  }

  // Unused slots are always zero, so member-wise equality is id equality.
  friend constexpr bool operator==(const id_t&, const id_t&) noexcept = default;
  // The id as two words, high then low, whose order is the order of ids:
  // components in order, a prefix first. Unused slots are zero, so that is
  // the order of all three components and then the length. Comparing two
  // words needs no loop, and sorts by bytes can use them as their key:
  // sorting ids is a large part of the delayed pass after a full select.
  constexpr std::uint64_t orderHigh() const noexcept { return std::uint64_t{c_[0]} << 32 | c_[1]; }
  constexpr std::uint64_t orderLow() const noexcept { return std::uint64_t{c_[2]} << 32 | size_; }

  friend constexpr std::strong_ordering operator<=>(const id_t& a, const id_t& b) noexcept {
    if (a.orderHigh() != b.orderHigh()) return a.orderHigh() <=> b.orderHigh();
    return a.orderLow() <=> b.orderLow();
  }

 private:
  [[noreturn]] static void throwResizeOverflow(std::size_t n);
  [[noreturn]] static void throwReferenceOverflow(std::size_t i);

  std::uint32_t c_[kMaxSize] = {0, 0, 0};
  std::uint32_t size_ = 0;
};

std::ostream& operator<<(std::ostream& out, const id_t& id);

}  // namespace tql

template <>
struct std::hash<tql::id_t> {
  std::size_t operator()(const tql::id_t& id) const noexcept { return id.hash(); }
};
