// Text values inside the library: UTF-8 std::string, with std::nullopt for an
// absent text. Conversions from the caller's C strings live here too.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "helper/Json.h"

namespace vrk {

using Text = std::optional<std::string>;

class NSStringEx {
 public:
  // Text of a decoded value: strings as they are, numbers in decimal, booleans
  // as "1"/"0", anything else (or nothing) as "".
  static std::string stringFromValue(const Json* value);
  static std::string stringFromValue(const std::optional<Json>& value) {
    return stringFromValue(value ? &*value : nullptr);
  }
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// A caller's C string as a text: absent for a null pointer or invalid UTF-8.
Text TextFromC(const char* s);

// Like TextFromC, but a null pointer or invalid UTF-8 is a failure (thrown).
std::string RequireText(const char* s, const char* what);

// Decimal text of a number the way the encoder writes it.
std::string NumberText(const Json& number);

}  // namespace vrk

namespace vrk {

// The one shared, unallocated empty string that text exports answer when they
// have no text. Callers never free it.
char* ConstantEmptyString();

// A strdup() copy for the caller to free, or the constant empty string when the
// text is empty or memory ran out (never NULL).
char* HeapCopyOrEmpty(std::string_view text);

}  // namespace vrk
