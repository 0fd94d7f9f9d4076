// SPDX-License-Identifier: MIT
// Reading the names a face carries, and finding faces by them.
#pragma once

#include <fontconfig/fontconfig.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vrk::platform {

// The n-th value of a string property; text that is not UTF-8 counts as none,
// since no caller could read it.
std::optional<std::string> StringAt(const FcPattern* p, const char* object, int n);
std::vector<std::string> Strings(const FcPattern* p, const char* object);
// The value whose language tag matches `lang` exactly, else the one in English,
// else the first: fontconfig's own choice for a missing language is loose.
std::optional<std::string> InLanguage(const FcPattern* p, const char* object,
                                      const char* langObject, const std::string& lang);

// The faces of one configuration by each value of one name property, in
// fontconfig's order (system fonts, then the process's own). Borrows the
// configuration's patterns.
class NameIndex {
 public:
  NameIndex(FcConfig* config, const char* object);
  std::vector<FcPattern*> Find(std::string_view name) const;

 private:
  std::vector<std::pair<std::string_view, FcPattern*>> entries_;
};

}  // namespace vrk::platform
