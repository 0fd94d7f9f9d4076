// SPDX-License-Identifier: MIT
// Text values inside the library: UTF-8 std::string, with std::nullopt for an
// absent text; the caller's C strings taken in, and texts handed back to it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vrk {

using Text = std::optional<std::string>;

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// A caller's C string as a text: absent for a null pointer or invalid UTF-8.
Text TextFromC(const char* s);

// A caller's C string, converted once where it enters the library. Whether a
// null pointer or invalid UTF-8 fails the call, and at which step, is up to
// the behaviour that reads it.
class CallerText {
 public:
  CallerText(const char* s);  // NOLINT(google-explicit-constructor): literals too
  bool IsNull() const { return null_; }
  // Absent for a null pointer or invalid UTF-8.
  const Text& text() const { return text_; }
  // The text; a null pointer or invalid UTF-8 is a failure (std::invalid_argument).
  const std::string& Require(const char* what) const;

 private:
  Text text_;
  bool null_;
};

// The one shared, unallocated empty string that text exports answer when they
// have no text. Callers never free it.
char* ConstantEmptyString();

// A strdup() copy for the caller to free, or the constant empty string when the
// text is empty or memory ran out (never NULL).
char* HeapCopyOrEmpty(std::string_view text);

}  // namespace vrk
