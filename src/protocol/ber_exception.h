#pragma once
// The one exception of the BER layer: malformed input, a value out of its
// allowed range, a length above a value's maximum.
#include "error/exception.h"

namespace protocol {

class EBer : public error::EParseError {
 public:
  using error::EParseError::EParseError;
};

}  // namespace protocol
