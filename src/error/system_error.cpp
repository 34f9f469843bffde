#include "error/system_error.h"

#include <errno.h>
#include <string.h>

#include "error/exception.h"

namespace error {

namespace {

// strerror_r comes in two shapes and the C library chooses one by feature
// macros: the GNU one returns the text (which may or may not be in our
// buffer), the XSI one returns 0 or an error number. Overloading on the
// return type accepts either.
[[maybe_unused]] const char* strerrorText(const char* result, const char* /*buffer*/,
                                          int& /*failure*/) {
  return result;
}

[[maybe_unused]] const char* strerrorText(int result, const char* buffer, int& failure) {
  if (result == 0) return buffer;
  // Older libraries return -1 and set errno instead of returning the error.
  failure = result > 0 ? result : errno;
  return nullptr;
}

}  // namespace

std::string describeSystemError(int errnoValue) {
  char buffer[256] = {};
  int failure = 0;
  const char* text = strerrorText(::strerror_r(errnoValue, buffer, sizeof buffer), buffer, failure);
  if (text == nullptr) {
    return std::to_string(errnoValue) + " (strerror_r: " + std::to_string(failure) + ")";
  }
  std::string description(text);
  while (!description.empty() && (description.back() == '\r' || description.back() == '\n')) {
    description.pop_back();
  }
  if (description.empty()) return std::to_string(errnoValue);
  return description;
}

void throwSystemError(std::string context, int errnoValue) {
  std::string message = std::move(context) + ": " + describeSystemError(errnoValue);
  switch (errnoValue) {
    case ENOENT:
      throw EFileNotFoundError(std::move(message));
    case EEXIST:
      throw EFileExistsError(std::move(message));
    default:
      throw ESystemError(std::move(message));
  }
}

void throwSystemError(std::string text) { throw ESystemError(std::move(text)); }

}  // namespace error
