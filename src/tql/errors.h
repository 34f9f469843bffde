#pragma once
// Errors of the object database: a code from a fixed table plus an optional
// detail text. The DBMS reports them with its replies, and the property
// values of this folder throw them for type mismatches, missing properties and
// impossible comparisons.
#include <string>
#include <string_view>

#include "error/exception.h"

namespace errors {

class tql : public error::Exception {
 public:
  static constexpr int kNoError = 0;
  static constexpr int kIdNotFound = 1;
  static constexpr int kPatternMatchedNothing = 2;
  static constexpr int kUpdatedBySomeoneElse = 3;
  static constexpr int kDuplicateUniqueValue = 4;
  static constexpr int kChildClassNotAllowed = 5;
  static constexpr int kRequiredPropertyMissing = 6;
  static constexpr int kNoSuchProperty = 7;
  static constexpr int kConstProperty = 8;
  static constexpr int kIllegalType = 9;
  static constexpr int kIllegalValue = 10;
  static constexpr int kIncomparable = 11;
  static constexpr int kPatternNotImplemented = 12;
  static constexpr int kBackendError = 14;
  static constexpr int kAccessDenied = 15;

  explicit tql(int code, std::string detail = {}) : code_(code), detail_(std::move(detail)) {}

  int code() const noexcept { return code_; }
  const std::string& detail() const noexcept { return detail_; }
  // The detail when there is one, else the code's text.
  std::string text() const override;

  // The fixed text of a code; "Unknown error" for a code outside the table.
  static std::string_view codeText(int code) noexcept;

 private:
  int code_;
  std::string detail_;
};

// A comparison between property values that cannot be made: always code 11.
class tql_incomparable : public tql {
 public:
  explicit tql_incomparable(std::string detail) : tql(kIncomparable, std::move(detail)) {}
};

}  // namespace errors
