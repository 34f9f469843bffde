#pragma once
// Whole files: what tools read their input documents with.
#include <string>

namespace os {

// The whole content of the file. Throws error::EFileNotFoundError when it
// does not exist and error::ESystemError for any other failure, both naming
// the path.
[[nodiscard]] std::string readWholeFile(const std::string& path);

}  // namespace os
