// SPDX-License-Identifier: MIT
// Decoded values coerced to text.
#pragma once

#include <optional>
#include <string>

#include "helper/Json.h"

namespace vrk {

class NSStringEx {
 public:
  // Text of a decoded value: strings as they are, numbers in decimal, booleans
  // as "1"/"0", anything else (or nothing) as "".
  static std::string stringFromValue(const Json* value);
  static std::string stringFromValue(const std::optional<Json>& value) {
    return stringFromValue(value ? &*value : nullptr);
  }
};

// Decimal text of a number the way the encoder writes it.
std::string NumberText(const Json& number);

}  // namespace vrk
