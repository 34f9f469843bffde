#include "error/check.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace error {

namespace {

AssertionHook assertionHook = nullptr;

}  // namespace

void setAssertionHookForFuzzing(AssertionHook hook) { assertionHook = hook; }

void assertionFailed(std::string_view text) {
  if (assertionHook != nullptr) assertionHook(text);
  // One write, so the line cannot interleave with other output.
  std::string line;
  line.reserve(text.size() + 20);
  line.append("Assertion failed: ").append(text).append("\n");
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  std::abort();
}

}  // namespace error
