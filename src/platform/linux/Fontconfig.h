// The library's own fontconfig configuration and the handles it hands out.
//
// The caller's process may use fontconfig too, so the library never touches
// the process-wide current configuration: it keeps its own and passes it to
// every call, all of them under one mutex.
#pragma once

#include <fontconfig/fontconfig.h>

#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vrk::platform {

struct FcRelease {
  void operator()(FcConfig* p) const { FcConfigDestroy(p); }
  void operator()(FcPattern* p) const { FcPatternDestroy(p); }
  void operator()(FcFontSet* p) const { FcFontSetDestroy(p); }
  void operator()(FcObjectSet* p) const { FcObjectSetDestroy(p); }
  void operator()(FcChar8* p) const { FcStrFree(p); }
};
using ConfigPtr = std::unique_ptr<FcConfig, FcRelease>;
using PatternPtr = std::unique_ptr<FcPattern, FcRelease>;
using FontSetPtr = std::unique_ptr<FcFontSet, FcRelease>;
using ObjectSetPtr = std::unique_ptr<FcObjectSet, FcRelease>;
using FcStringPtr = std::unique_ptr<FcChar8, FcRelease>;

template <typename T>
T* Checked(T* handle) {
  if (handle == nullptr) throw std::bad_alloc();
  return handle;
}

inline const FcChar8* U8(const std::string& s) {
  return reinterpret_cast<const FcChar8*>(s.c_str());
}

// The n-th value of a string property; text that is not UTF-8 counts as none,
// since no caller could read it.
std::optional<std::string> StringAt(const FcPattern* p, const char* object, int n);
std::vector<std::string> Strings(const FcPattern* p, const char* object);
// The value whose language tag matches `lang` exactly, else the one in English,
// else the first: fontconfig's own choice for a missing language is loose.
std::optional<std::string> InLanguage(const FcPattern* p, const char* object,
                                      const char* langObject, const std::string& lang);

// One per process: the library's own configuration and everything that must
// be rebuilt into it.
class Fontconfig {
 public:
  // Every fontconfig call of the library, whichever manager makes it.
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }

  // The configuration, rebuilt when the library changed a registration or
  // fontconfig finds a configuration file or font folder changed. The mutex
  // must be held.
  FcConfig* Current();

  void Changed() { stale_ = true; }
  std::set<std::string>& processFonts() { return processFonts_; }

 private:
  static std::string RegistryStamp();

  ConfigPtr config_;
  bool stale_ = false;
  std::string stamp_;
  std::set<std::string> processFonts_;  // canonical paths
};

}  // namespace vrk::platform
