#pragma once
// Always-on internal consistency checks. A failed check means a bug in this
// process, never bad input from outside: it writes "Assertion failed: " and its
// text to standard error and aborts, which leaves a crash report. These checks
// are never compiled out, whatever NDEBUG says.
#include <string_view>

namespace error {

[[noreturn]] void assertionFailed(std::string_view text);

// A hook that sees the text of every failed check before anything is
// written. Only fuzz targets install one: it throws for the failures that
// bad input from a peer is meant to cause, so that only other failures
// abort there. When the hook returns, the check fails as usual; a hook that
// throws from a check inside a destructor still ends the process.
using AssertionHook = void (*)(std::string_view text);
void setAssertionHookForFuzzing(AssertionHook hook);

}  // namespace error

// HX_CHECK(condition, text): the text (anything convertible to
// std::string_view, built only when the check fails) names what went wrong.
#define HX_CHECK(condition, ...)             \
  do {                                       \
    if (!(condition)) [[unlikely]] {         \
      ::error::assertionFailed(__VA_ARGS__); \
    }                                        \
  } while (false)
