#include "protocol/ber_tags.h"

#include "protocol/ber_exception.h"

namespace protocol {

std::string tagName(tag_t tag) {
  switch (tag) {
    case BE_BOOLEAN:
      return "BE_BOOLEAN";
    case BE_INTEGER:
      return "BE_INTEGER";
    case BE_STRING_CURRENT:
      return "BE_STRING_CURRENT";
    case BE_NULL:
      return "BE_NULL";
    case BE_REAL:
      return "BE_REAL";
    case BE_ENUMERATED:
      return "BE_ENUMERATED";
    case BE_SEQ_CURRENT:
      return "BE_SEQ_CURRENT";
    case BE_SET_CURRENT:
      return "BE_SET_CURRENT";
    case BE_STRING_LEGACY:
      return "BE_STRING_LEGACY";
    case BE_SEQ_LEGACY:
      return "BE_SEQ_LEGACY";
    case BE_SET_LEGACY:
      return "BE_SET_LEGACY";
    default:
      return std::to_string(tag);
  }
}

void expectTag(tag_t got, tag_t expected, std::string_view expectedName) {
  if (got == expected) return;
  throw EBer("Tag mismatch, got " + std::to_string(got) + " expected " + std::string(expectedName));
}

}  // namespace protocol
