#include "platform/linux/Fontconfig.h"

#include <sys/stat.h>

#include <stdexcept>

#include "extension/NSStringEx.h"
#include "platform/linux/LinkRegistry.h"

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

FcConfig* Fontconfig::Current() {
  std::string stamp = RegistryStamp();
  if (config_ && !stale_ && stamp == stamp_ && FcConfigUptoDate(config_.get())) {
    return config_.get();
  }
  ConfigPtr fresh(FcInitLoadConfigAndFonts());
  if (!fresh) throw std::runtime_error("fontconfig configuration did not load");
  for (const auto& file : processFonts_) FcConfigAppFontAddFile(fresh.get(), U8(file));
  config_ = std::move(fresh);
  stale_ = false;
  stamp_ = std::move(stamp);
  return config_.get();
}

// fontconfig notices a changed folder only a second later; the registries'
// own times, to the nanosecond, catch another process's change at once.
std::string Fontconfig::RegistryStamp() {
  std::string stamp;
  auto session = SessionRegistryForReading();
  for (const std::string& dir :
       {session ? session->dir() : std::string(), PersistentRegistry().dir()}) {
    struct stat st;
    if (!dir.empty() && ::stat(dir.c_str(), &st) == 0) {
      stamp += std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    }
    stamp += ";";
  }
  return stamp;
}

}  // namespace vrk::platform
