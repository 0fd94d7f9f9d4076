#pragma once

#include <string>

namespace vrk {

class FontHelper {
 public:
  // Flag lists "1|-|0|-|1"; "" for an empty or unreadable list. May throw.
  static std::string RegisterFont(const char* fontPaths);
  static std::string UnRegisterFont(const char* fontPaths);
  // May throw.
  static bool FontIsRegistered(const char* fontPath, const char* postscriptName,
                               const char* familyName);
  // "family|-|path" with "(null)" for a missing part. May throw.
  static std::string FindFont(const char* postscriptName, const char* familyName);
  // JSON array of font records; catches its own failures.
  static char* GetAvailableFonts();
};

}  // namespace vrk
