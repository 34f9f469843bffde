#include "os/process_info.h"

#include <limits.h>
#include <unistd.h>

#include <fstream>
#include <string_view>

namespace os {

std::string executablePath() {
  char buffer[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  // A full buffer may mean a truncated path: no answer is better than a
  // wrong one.
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return {};
  std::string_view path(buffer, static_cast<std::size_t>(n));
  // The link names an executable replaced or removed since start-up this way.
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.ends_with(kDeleted)) path.remove_suffix(kDeleted.size());
  return std::string(path);
}

int currentProcessId() noexcept { return static_cast<int>(::getpid()); }

long long writeCallCount() {
  std::ifstream io("/proc/thread-self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value) {
    if (key == "syscw:") return value;
  }
  return -1;
}

}  // namespace os
