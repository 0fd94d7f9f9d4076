// SPDX-License-Identifier: MIT
#include "platform/linux/FontconfigIndex.h"

#include <algorithm>

#include "extension/Text.h"
#include "platform/linux/Fontconfig.h"

namespace vrk::platform {

std::optional<std::string> StringAt(const FcPattern* p, const char* object, int n) {
  FcChar8* value = nullptr;
  if (FcPatternGetString(p, object, n, &value) != FcResultMatch || value == nullptr) {
    return std::nullopt;
  }
  std::string text(reinterpret_cast<const char*>(value));
  if (!IsValidUtf8(text)) return std::nullopt;
  return text;
}

std::vector<std::string> Strings(const FcPattern* p, const char* object) {
  std::vector<std::string> values;
  FcChar8* value = nullptr;
  for (int n = 0; FcPatternGetString(p, object, n, &value) == FcResultMatch; ++n) {
    values.emplace_back(reinterpret_cast<const char*>(value));
  }
  return values;
}

std::optional<std::string> InLanguage(const FcPattern* p, const char* object,
                                      const char* langObject, const std::string& lang) {
  std::vector<std::string> values = Strings(p, object);
  std::vector<std::string> langs = Strings(p, langObject);
  auto pick = [&](const std::string& wanted) -> std::optional<size_t> {
    for (size_t i = 0; i < values.size() && i < langs.size(); ++i) {
      if (FcStrCmpIgnoreCase(U8(langs[i]), U8(wanted)) == 0) return i;
    }
    return std::nullopt;
  };
  auto index = pick(lang);
  if (!index) index = pick("en");
  if (!index && !values.empty()) index = 0;
  if (!index || !IsValidUtf8(values[*index])) return std::nullopt;
  return values[*index];
}
NameIndex::NameIndex(FcConfig* config, const char* object) {
  for (FcSetName kind : {FcSetSystem, FcSetApplication}) {
    FcFontSet* fonts = FcConfigGetFonts(config, kind);
    for (int i = 0; fonts != nullptr && i < fonts->nfont; ++i) {
      FcChar8* value = nullptr;
      for (int n = 0; FcPatternGetString(fonts->fonts[i], object, n, &value) == FcResultMatch;
           ++n) {
        entries_.emplace_back(reinterpret_cast<const char*>(value), fonts->fonts[i]);
      }
    }
  }
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
}

std::vector<FcPattern*> NameIndex::Find(std::string_view name) const {
  auto it = std::lower_bound(
      entries_.begin(), entries_.end(), name,
      [](const auto& entry, std::string_view wanted) { return entry.first < wanted; });
  std::vector<FcPattern*> fonts;
  for (; it != entries_.end() && it->first == name; ++it) {
    // A face naming itself twice is still one face.
    if (std::find(fonts.begin(), fonts.end(), it->second) == fonts.end()) {
      fonts.push_back(it->second);
    }
  }
  return fonts;
}

}  // namespace vrk::platform
