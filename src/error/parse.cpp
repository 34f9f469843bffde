#include "error/parse.h"

#include <limits>

#include "error/exception.h"

namespace error {

namespace {

template <class Unsigned>
Unsigned parseDecimal(std::string_view text) {
  if (text.empty()) throw EParseError("Error parsing: " + quoteEscaped(text));
  constexpr Unsigned kMax = std::numeric_limits<Unsigned>::max();
  Unsigned value = 0;
  for (const char c : text) {
    const bool isDigit = c >= '0' && c <= '9';
    const auto digit = static_cast<Unsigned>(c - '0');
    if (!isDigit || value > (kMax - digit) / 10) {
      throw EParseError("Error parsing: " + quoteEscaped(text));
    }
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

std::uint32_t parseUnsigned(std::string_view text) { return parseDecimal<std::uint32_t>(text); }

std::uint64_t parseUnsigned64(std::string_view text) { return parseDecimal<std::uint64_t>(text); }

std::string quoteEscaped(std::string_view text) {
  static constexpr char kControlEscapes[] = "abtnvfr";  // bytes 7 to 13
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 7 && byte <= 13) {
      out.push_back('\\');
      out.push_back(kControlEscapes[byte - 7]);
    } else if (c == '"' || c == '\'' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (byte < 32 || byte > 126) {
      out.push_back('\\');
      out.push_back(static_cast<char>('0' + (byte >> 6)));
      out.push_back(static_cast<char>('0' + ((byte >> 3) & 7)));
      out.push_back(static_cast<char>('0' + (byte & 7)));
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace error
