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

}  // namespace os
