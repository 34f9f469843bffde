#pragma once
// Helpers shared by the BER tests: bytes from hex text and back, and the text
// of the EBer an action throws.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/ber_exception.h"

namespace testkit {

// "02 01 7F" -> {0x02, 0x01, 0x7F}; spaces are ignored.
inline std::vector<std::uint8_t> hexBytes(std::string_view text) {
  std::vector<std::uint8_t> out;
  std::string digits;
  for (const char c : text) {
    if (c == ' ') continue;
    digits += c;
    if (digits.size() == 2) {
      out.push_back(static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16)));
      digits.clear();
    }
  }
  return out;
}

inline std::string hexText(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  for (const std::uint8_t b : bytes) {
    char octet[4];
    std::snprintf(octet, sizeof octet, "%02X", b);
    if (!out.empty()) out += ' ';
    out += octet;
  }
  return out;
}

// The text of the EBer that `action` throws, or a note that it threw none.
template <typename Action>
std::string berErrorText(Action&& action) {
  try {
    action();
  } catch (const protocol::EBer& e) {
    return e.text();
  }
  return "<no EBer thrown>";
}

}  // namespace testkit
