#include "tql/property_access.h"

#include "tql/errors.h"
#include "tql/schema.h"

namespace tql::detail {

void throwPropertyNotFound(std::uint32_t classNumber, std::uint32_t number) {
  throw errors::tql(
      errors::tql::kRequiredPropertyMissing,
      "Property " + propertyName(number) + " not found in class " + className(classNumber));
}

void throwNullGiven(const char* className, const property_t& p) {
  throw errors::tql(errors::tql::kIllegalType,
                    "Null given for " + std::string(className) + ": " + propertyName(p.property));
}

void throwTypeMismatch(const char* className, const property_t& p) {
  throw errors::tql(errors::tql::kIllegalType, "Type mismatch for " + std::string(className) +
                                                   ": " + propertyName(p.property));
}

void throwEnumTypeMismatch(const property_t& p, std::int32_t expectedType) {
  std::string detail = "Type mismatch for property_t: " + propertyName(p.property) +
                       " [exp:" + std::to_string(expectedType) + ",actual:";
  if (p.typeCode() == property_enum_t::kTypeCode) {
    detail +=
        std::to_string(static_cast<std::int32_t>(static_cast<const property_enum_t&>(p).enumType));
  } else {
    detail += " non-enum";
  }
  throw errors::tql(errors::tql::kIllegalType, std::move(detail));
}

}  // namespace tql::detail
