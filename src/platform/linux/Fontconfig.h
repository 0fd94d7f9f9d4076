// SPDX-License-Identifier: MIT
// The library's own fontconfig configuration and the handles it hands out.
//
// The caller's process may use fontconfig too, so the library never touches
// the process-wide current configuration: it keeps its own and passes it to
// every call, all of them under one mutex.
#pragma once

#include <fontconfig/fontconfig.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/FontconfigIndex.h"
#include "platform/linux/FontconfigWatches.h"
#include "platform/linux/LinkRegistry.h"

namespace vrk::platform {

struct FcRelease {
  void operator()(FcConfig* p) const { FcConfigDestroy(p); }
  void operator()(FcPattern* p) const { FcPatternDestroy(p); }
  void operator()(FcFontSet* p) const { FcFontSetDestroy(p); }
  void operator()(FcObjectSet* p) const { FcObjectSetDestroy(p); }
  void operator()(FcChar8* p) const { FcStrFree(p); }
  void operator()(FcStrList* p) const { FcStrListDone(p); }
};
using ConfigPtr = std::unique_ptr<FcConfig, FcRelease>;
using PatternPtr = std::unique_ptr<FcPattern, FcRelease>;
using FontSetPtr = std::unique_ptr<FcFontSet, FcRelease>;
using ObjectSetPtr = std::unique_ptr<FcObjectSet, FcRelease>;
using FcStringPtr = std::unique_ptr<FcChar8, FcRelease>;
using StrListPtr = std::unique_ptr<FcStrList, FcRelease>;

template <typename T>
T* Checked(T* handle) {
  if (handle == nullptr) throw std::bad_alloc();
  return handle;
}

inline const FcChar8* U8(const std::string& s) {
  return reinterpret_cast<const FcChar8*>(s.c_str());
}

// One per process: the library's own configuration and everything that must
// be rebuilt into it.
class Fontconfig {
 public:
  Fontconfig();
  ~Fontconfig();
  Fontconfig(const Fontconfig&) = delete;
  Fontconfig& operator=(const Fontconfig&) = delete;

  // Every fontconfig call of the library, whichever manager makes it. A fork
  // waits until no other thread is inside one.
  static std::mutex& Mutex();

  // The configuration, rebuilt when anything it was built from changed: a
  // registration by any process, a font file added to or removed from a
  // font folder, a configuration file, a registered file deleted or replaced.
  // The mutex must be held.
  FcConfig* Current();
  // Changes with every rebuild. The mutex must be held.
  uint64_t Generation() const { return generation_; }
  // The faces carrying `name` as `object` (a name property) in the
  // configuration that Current() answered last, in fontconfig's order: ask
  // Current() first. A configuration's first question walks its fonts, since
  // a short-lived process asks only once; the next ones use an index.
  // The mutex must be held.
  std::vector<FcPattern*> Named(const char* object, std::string_view name);

  void Changed() { stale_ = true; }

 private:
  // A registered file as it was when the configuration was built.
  struct Target {
    std::string registry;
    std::string file;
    std::string identity;
    bool operator==(const Target&) const = default;
  };
  using Targets = std::map<std::string, Target>;  // by link

  bool UpToDate();
  void Rebuild();
  Targets ReadTargets() const;
  static std::string Environment();

  ConfigPtr config_;
  std::map<std::string, std::unique_ptr<NameIndex>> indexes_;  // by property
  std::set<std::string> walked_;  // properties asked once in this configuration
  std::unique_ptr<Watches> watches_;
  uint64_t generation_ = 0;
  unsigned checks_ = 0;  // since the last rebuild
  int queue_ = -1;       // change notifications, made on the first repeated use
  bool stale_ = false;
  std::string environment_;
  bool sessionExisted_ = false;
  Targets targets_;
  std::set<std::string> rescan_;  // link folders whose cache no longer holds
  unsigned forks_ = 0;
};

}  // namespace vrk::platform
