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

// The n-th value of a string property; text that is not UTF-8 counts as none,
// since no caller could read it.
std::optional<std::string> StringAt(const FcPattern* p, const char* object, int n);
std::vector<std::string> Strings(const FcPattern* p, const char* object);
// The value whose language tag matches `lang` exactly, else the one in English,
// else the first: fontconfig's own choice for a missing language is loose.
std::optional<std::string> InLanguage(const FcPattern* p, const char* object,
                                      const char* langObject, const std::string& lang);

// Lookups need no home folder: without one there is no persistent folder.
std::optional<LinkRegistry> PersistentRegistryForReading();

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

// Everything the configuration was built from, watched so that one cheap
// check per call tells whether it still holds: the configuration files and
// font folders fontconfig read, the link folders, and the folders of the
// files behind the links and of the process's own fonts. Each path is first
// compared by its times; a process that keeps asking moves them onto a
// change notification queue, which answers at the same cost however many
// folders there are. (The queue is not made at once: closing one costs a
// short-lived process more than it saves.)
class Watches {
 public:
  enum Kind { kRebuild, kTargets };
  Watches() = default;
  // Takes its paths off the queue; the queue itself lives on.
  ~Watches();
  Watches(const Watches&) = delete;
  Watches& operator=(const Watches&) = delete;

  void Add(const std::string& path, Kind kind);
  // Paths written since `since` (nanoseconds, the file system's clock) may
  // have changed after fontconfig read them.
  bool TouchedSince(int64_t since) const;
  // Moves the paths onto the queue `fd`; the next Changed() still compares
  // their times once, for what changed before.
  void Notify(int fd);
  bool notified() const { return fd_ >= 0; }
  // Whether anything changed; `targetFolders` receives the folders of
  // registered files that saw a change.
  bool Changed(std::set<std::string>& targetFolders);
  // After fork(): the queue is shared with the parent and must not be touched.
  void Forget();

 private:
  struct Entry {
    std::string path;
    Kind kind;
    int wd;  // -1: compared by its stamp
    std::string stamp;
  };
  static std::string Stamp(const std::string& path);

  int fd_ = -1;
  bool verify_ = false;
  std::vector<Entry> entries_;
  std::multimap<int, size_t> byWd_;
};

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
  std::set<std::string>& processFonts() { return processFonts_; }

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
  std::set<std::string> rescan_;        // link folders whose cache no longer holds
  std::set<std::string> processFonts_;  // canonical paths
  unsigned forks_ = 0;
};

}  // namespace vrk::platform
