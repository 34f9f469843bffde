#pragma once
// Facts about the running process.
#include <string>

namespace os {

// The absolute path of the running executable (symbolic links resolved);
// the empty text when the system cannot say. Allocates: not for signal
// handlers.
[[nodiscard]] std::string executablePath();

// Safe inside a signal handler.
[[nodiscard]] int currentProcessId() noexcept;

// How many write system calls the calling thread has made so far (from
// /proc/thread-self/io), or -1 when the system does not say. For tests and
// benchmarks that count the calls a batch of messages costs; a thread of
// its own that a runtime may run (a sanitizer's, say) is not counted.
[[nodiscard]] long long writeCallCount();

}  // namespace os
