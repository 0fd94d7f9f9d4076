// SPDX-License-Identifier: MIT
#pragma once

#include <cstdlib>
#include <string>

#include "extension/Text.h"

namespace vrk {

// A text answer as a string, the heap copy freed (the constant never is).
inline std::string Take(char* text) {
  std::string copy = text;
  if (text != ConstantEmptyString()) std::free(text);
  return copy;
}

}  // namespace vrk
