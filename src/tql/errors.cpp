#include "tql/errors.h"

namespace errors {

std::string tql::text() const {
  if (!detail_.empty()) return detail_;
  return std::string(codeText(code_));
}

std::string_view tql::codeText(int code) noexcept {
  switch (code) {
    case kNoError:
      return "No error";
    case kIdNotFound:
      return "Specified ID not found in database";
    case kPatternMatchedNothing:
      return "Pattern matched nothing";
    case kUpdatedBySomeoneElse:
      return "Someone else has updated the object";
    case kDuplicateUniqueValue:
      return "Attempted insertion of duplicate value in unique property";
    case kChildClassNotAllowed:
      return "Specified class not allowed as child of given object";
    case kRequiredPropertyMissing:
      return "Some required properties is missing";
    case kNoSuchProperty:
      return "Requested update of noexistant property";
    case kConstProperty:
      return "Requested update of const property";
    case kIllegalType:
      return "Property updated with illegal type";
    case kIllegalValue:
      return "Property updated with illegal value";
    case kIncomparable:
      return "Incomparable property";
    case kPatternNotImplemented:
      return "The pattern is not implemented";
    case kBackendError:
      return "Backend error";
    case kAccessDenied:
      return "Access denied";
    default:
      return "Unknown error";
  }
}

}  // namespace errors
