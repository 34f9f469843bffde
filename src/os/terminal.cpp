#include "os/terminal.h"

#include <unistd.h>

#include <cstdlib>

namespace os {

bool isTerminal(int fd) noexcept { return ::isatty(fd) == 1; }

std::optional<std::string> environmentValue(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace os
