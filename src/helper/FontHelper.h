// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "extension/Text.h"

namespace vrk {

class FontHelper {
 public:
  // Failures: each operation but GetAvailableFonts throws what the font
  // manager throws (see FontManager), and std::invalid_argument for a path
  // list that is not UTF-8 or holds something other than texts; the export
  // turns that into its failure answer.

  // Flag lists "1|-|0|-|1"; "" for an empty list, NULL, or text that is not JSON.
  static std::string RegisterFont(const CallerText& fontPaths);
  static std::string UnRegisterFont(const CallerText& fontPaths);
  static bool FontIsRegistered(const CallerText& fontPath, const CallerText& postscriptName,
                               const CallerText& familyName);
  // "family|-|path" with "(null)" for a missing part.
  static std::string FindFont(const CallerText& postscriptName, const CallerText& familyName);
  // JSON array of font records, or the constant "" after any failure.
  static char* GetAvailableFonts() noexcept;
};

}  // namespace vrk
