#pragma once
// Private scratch directories: the publication directory of a process
// family, and the tests' work space.
#include <string>

namespace os {

// Creates a new, empty directory (mode 0700) under the system's temporary
// directory, named prefix + "." + six random characters, and returns its
// path. The caller removes it (removeDirectoryTree). Throws error::ESystemError on failure.
[[nodiscard]] std::string makeTemporaryDirectory(const std::string& prefix);

// Removes the directory and everything in it; errors are ignored (for
// destructors and clean-up).
void removeDirectoryTree(const std::string& path) noexcept;

}  // namespace os
