#pragma once
// Tag codes of the BER value encoding. A tag is held as one number:
// tag number × 8 + class × 2 + constructed, class 0 universal, 1 application,
// 2 context-specific, 3 private. Message types exist in a current and a legacy
// variant that differ only in the tag of their sequence; a message class picks
// the variant by the protocol version it talks.
#include <cstdint>
#include <string>
#include <string_view>

namespace protocol {

using tag_t = std::uint32_t;

constexpr std::uint32_t tagNumber(tag_t tag) { return tag >> 3; }
constexpr bool isConstructed(tag_t tag) { return (tag & 1) != 0; }

// Largest tag number a tag code can hold.
constexpr std::uint32_t kMaxTagNumber = (UINT32_MAX >> 3);

constexpr tag_t BE_BOOLEAN = 8;
constexpr tag_t BE_INTEGER = 16;
constexpr tag_t BE_STRING_CURRENT = 32;
constexpr tag_t BE_NULL = 40;
constexpr tag_t BE_REAL = 72;
constexpr tag_t BE_ENUMERATED = 80;
constexpr tag_t BE_SEQ_CURRENT = 129;
constexpr tag_t BE_SET_CURRENT = 137;
constexpr tag_t BE_STRING_LEGACY = 176;
constexpr tag_t BE_SEQ_LEGACY = 1;
constexpr tag_t BE_SET_LEGACY = 9;

// Structured message types: every one is a sequence, tagged as such.
constexpr tag_t BE_ACTION_CONF_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_ACTION_CONF_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_ACTION_CONF_GROUP_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_ACTION_CONF_GROUP_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_CHECK_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_CHECK_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_CHECK_CONF_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_CHECK_CONF_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_CHECK_CONF_GROUP_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_CHECK_CONF_GROUP_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_CHECK_DESCRIPTION_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_CHECK_DESCRIPTION_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_CHECK_GROUP_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_CHECK_GROUP_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_CHECK_RESULT_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_CHECK_RESULT_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_DATA_INTERVAL_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_DATA_INTERVAL_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_DATA_INTERVAL_RAW_ELEMENT_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_DATA_INTERVAL_RAW_ELEMENT_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_HOST_INFO_LINE_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_HOST_INFO_LINE_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_OBJECT_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_OBJECT_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_PATH_PATTERN_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_PATH_PATTERN_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_PROPERTY_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_PROPERTY_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_RELATIVE_EXPR_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_RELATIVE_EXPR_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_RULE_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_RULE_LEGACY = BE_SEQ_LEGACY;
constexpr tag_t BE_SERVER_NAME_PORT_CURRENT = BE_SEQ_CURRENT;
constexpr tag_t BE_SERVER_NAME_PORT_LEGACY = BE_SEQ_LEGACY;

// The name of a universal tag ("BE_INTEGER"), or the code in decimal for any
// other. Sequences and sets answer their universal names, since every message
// type shares their codes.
std::string tagName(tag_t tag);

// Throws EBer "Tag mismatch, got <got> expected <expectedName>" unless got is
// the expected tag.
void expectTag(tag_t got, tag_t expected, std::string_view expectedName);
inline void expectTag(tag_t got, tag_t expected) { expectTag(got, expected, tagName(expected)); }

}  // namespace protocol
