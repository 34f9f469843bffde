#pragma once
// Turns a failed system call's errno into an exception that says what we were
// doing and what went wrong. Code in os/ calls these; nothing else formats
// errno.
#include <string>

namespace error {

// The C library's text for an errno value, without trailing line ends; the
// value in decimal when the library has no text for it.
std::string describeSystemError(int errnoValue);

// Throws with the message context + ": " + describeSystemError(errnoValue):
// EFileNotFoundError for ENOENT, EFileExistsError for EEXIST, ESystemError
// for every other value.
[[noreturn]] void throwSystemError(std::string context, int errnoValue);

// Throws ESystemError with the text alone, for a system-level failure that
// has no error code (a missing environment value, say).
[[noreturn]] void throwSystemError(std::string text);

}  // namespace error
