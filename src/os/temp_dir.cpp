#include "os/temp_dir.h"

#include <errno.h>
#include <stdlib.h>

#include <filesystem>
#include <vector>

#include "error/system_error.h"

namespace os {

std::string makeTemporaryDirectory(const std::string& prefix) {
  const std::string pattern =
      (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
  std::vector<char> path(pattern.begin(), pattern.end());
  path.push_back('\0');
  if (::mkdtemp(path.data()) == nullptr) error::throwSystemError("mkdtemp " + pattern, errno);
  return std::string(path.data());
}

void removeDirectoryTree(const std::string& path) noexcept {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

}  // namespace os
