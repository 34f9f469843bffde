#pragma once
// Test-only: private scratch directories. Never include from library code.
#include <string>

namespace testkit {

// Creates a new, empty directory (mode 0700) under the system's temporary
// directory, named prefix + "." + six random characters, and returns its
// path. The caller removes it. Throws error::ESystemError on failure.
[[nodiscard]] std::string makeTemporaryDirectory(const std::string& prefix);

}  // namespace testkit
