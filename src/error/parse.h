#pragma once
// Reading numbers from text, and quoting text for error messages so that
// control characters and stray bytes show up instead of corrupting the line.
#include <cstdint>
#include <string>
#include <string_view>

namespace error {

// The text as an unsigned decimal number: one or more digits 0-9 and nothing
// else (no sign, no spaces). Anything else throws EParseError with the text
// "Error parsing: " + quoteEscaped(text); that includes the empty text and a
// value too large for the result type.
std::uint32_t parseUnsigned(std::string_view text);
std::uint64_t parseUnsigned64(std::string_view text);

// The text in double quotes, with bytes 7 to 13 written as \a \b \t \n \v \f
// \r, the quotes and the backslash as \" \' \\, other bytes outside printable
// ASCII (32 to 126) as a backslash and three octal digits: a"b\n -> "a\"b\n".
std::string quoteEscaped(std::string_view text);

}  // namespace error
