// SPDX-License-Identifier: MIT
#include "platform/linux/Fontconfig.h"

#include <dirent.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include "extension/Text.h"
#include "platform/ForkSafeMutex.h"
#include "platform/linux/UserFolders.h"

namespace vrk::platform {

namespace {

// Counted in the child of every fork: the child's copy of the notification
// queue is shared with the parent and must not be read.
unsigned g_forks = 0;

std::vector<std::string> List(FcStrList* list) {
  StrListPtr owned(list);
  std::vector<std::string> paths;
  if (!owned) return paths;
  while (FcChar8* path = FcStrListNext(owned.get())) {
    paths.emplace_back(reinterpret_cast<const char*>(path));
  }
  return paths;
}

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

// A file as far as a rescan would tell: the same path holding another file,
// or the same file rewritten, reads differently.
std::string Identity(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "";
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
         std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_ctim.tv_sec) + "." +
         std::to_string(st.st_ctim.tv_nsec);
}

}  // namespace

Fontconfig::Fontconfig() = default;

Fontconfig::~Fontconfig() {
  watches_.reset();
  if (queue_ >= 0) ::close(queue_);
}

std::mutex& Fontconfig::Mutex() {
  return ForkSafeMutex<Fontconfig>();
}

// Made while the library loads, before any thread can fork meanwhile.
[[maybe_unused]] const bool kForkHandlersReady =
    (Fontconfig::Mutex(), ::pthread_atfork(nullptr, nullptr, [] { ++g_forks; }), true);

FcConfig* Fontconfig::Current() {
  if (!UpToDate()) Rebuild();
  return config_.get();
}

std::vector<FcPattern*> Fontconfig::Named(const char* object, std::string_view name) {
  if (!config_) return {};
  auto& index = indexes_[object];
  if (!index && walked_.count(object)) index = std::make_unique<NameIndex>(config_.get(), object);
  if (index) return index->Find(name);
  walked_.insert(object);
  std::vector<FcPattern*> fonts;
  for (FcSetName kind : {FcSetSystem, FcSetApplication}) {
    FcFontSet* set = FcConfigGetFonts(config_.get(), kind);
    for (int i = 0; set != nullptr && i < set->nfont; ++i) {
      FcChar8* value = nullptr;
      for (int n = 0; FcPatternGetString(set->fonts[i], object, n, &value) == FcResultMatch; ++n) {
        if (name == reinterpret_cast<const char*>(value)) {
          fonts.push_back(set->fonts[i]);
          break;
        }
      }
    }
  }
  return fonts;
}

// Everything fontconfig and the link folders are found from.
std::string Fontconfig::Environment() {
  std::string values;
  for (const char* name :
       {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR",
        "FONTCONFIG_FILE", "FONTCONFIG_PATH", "FONTCONFIG_SYSROOT"}) {
    const char* value = std::getenv(name);
    values += value != nullptr ? value : "\x01";
    values += '\0';
  }
  return values;
}

bool Fontconfig::UpToDate() {
  if (forks_ != g_forks) {
    // The parent's queue: closing this copy leaves the parent's open.
    if (watches_) watches_->Forget();
    if (queue_ >= 0) ::close(queue_);
    queue_ = -1;
    return false;
  }
  if (!config_ || !watches_ || stale_) return false;
  if (Environment() != environment_) return false;
  if (!sessionExisted_ && SessionRegistryForReading()) return false;
  // One export may check a few times; a process that keeps asking checks more.
  if (++checks_ == 8 && !watches_->notified()) {
    if (queue_ < 0) queue_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    watches_->Notify(queue_);
  }
  std::set<std::string> folders;
  if (watches_->Changed(folders)) return false;
  bool upToDate = true;
  for (const auto& [link, target] : targets_) {
    if (folders.count(FolderOf(target.file)) && Identity(target.file) != target.identity) {
      rescan_.insert(target.registry);
      upToDate = false;
    }
  }
  return upToDate;
}

Fontconfig::Targets Fontconfig::ReadTargets() const {
  Targets targets;
  auto registry = SessionRegistryForReading();
  if (!registry) return targets;
  DIR* dir = ::opendir(registry->dir().c_str());
  if (dir == nullptr) return targets;
  while (const struct dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::string link = registry->dir() + "/" + entry->d_name;
    char target[PATH_MAX];
    ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof target) continue;
    std::string file(target, static_cast<size_t>(n));
    targets[link] = {registry->dir(), file, Identity(file)};
  }
  ::closedir(dir);
  return targets;
}

void Fontconfig::Rebuild() {
  const int64_t since = FileClockNow();
  Targets targets = ReadTargets();
  auto load = [] {
    ConfigPtr fresh(FcInitLoadConfigAndFonts());
    if (!fresh) throw std::runtime_error("fontconfig configuration did not load");
    return fresh;
  };
  ConfigPtr fresh = load();

  // fontconfig rereads a link folder only when the folder itself changes, not
  // when a file behind a link is deleted or replaced: its cache must go.
  for (const auto& [link, target] : targets) {
    auto known = targets_.find(link);
    if (known != targets_.end()) {
      if (known->second.identity != target.identity) rescan_.insert(target.registry);
      continue;
    }
    // First seen: the cache may be older than the file behind the link.
    FcChar8* cacheFile = nullptr;
    FcCache* cache = FcDirCacheLoad(U8(target.registry), fresh.get(), &cacheFile);
    FcStringPtr ownedName(cacheFile);
    if (cache == nullptr) continue;
    FcDirCacheUnload(cache);
    struct stat cacheStat, fileStat;
    if (target.identity.empty() || ::stat(target.file.c_str(), &fileStat) != 0 ||
        ::stat(reinterpret_cast<const char*>(cacheFile), &cacheStat) != 0 ||
        Nanoseconds(fileStat.st_ctim) >= Nanoseconds(cacheStat.st_mtim) - 1000000000) {
      rescan_.insert(target.registry);
    }
  }
  if (!rescan_.empty()) {
    for (const auto& dir : rescan_) FcDirCacheUnlink(U8(dir), fresh.get());
    fresh = load();
  }

  // The old paths leave the queue before the new ones join it, so that a
  // folder in both keeps a watch.
  watches_.reset();
  auto watches = std::make_unique<Watches>();
  std::set<std::string> paths;
  for (FcStrList* list : {FcConfigGetConfigFiles(fresh.get()), FcConfigGetConfigDirs(fresh.get()),
                          FcConfigGetFontDirs(fresh.get())}) {
    for (auto& path : List(list)) paths.insert(std::move(path));
  }
  try {
    std::string conf = XdgDir("XDG_CONFIG_HOME", ".config") + "/fontconfig";
    paths.insert(conf);
    paths.insert(conf + "/conf.d");
  } catch (const std::runtime_error&) {
    // No home folder: no user configuration either.
  }
  auto session = SessionRegistryForReading();
  if (session) paths.insert(session->dir());
  for (const auto& path : paths) watches->Add(path, Watches::kRebuild);
  std::set<std::string> targetFolders;
  for (const auto& [link, target] : targets) targetFolders.insert(FolderOf(target.file));
  for (const auto& folder : targetFolders) watches->Add(folder, Watches::kTargets);

  // A change while fontconfig was reading may have come after it read the
  // path and before the watch began: look again on the next call.
  bool changedMeanwhile = watches->TouchedSince(since) || ReadTargets() != targets;

  config_ = std::move(fresh);
  indexes_.clear();
  walked_.clear();
  watches_ = std::move(watches);
  ++generation_;
  checks_ = 0;
  stale_ = changedMeanwhile;
  environment_ = Environment();
  sessionExisted_ = session.has_value();
  targets_ = std::move(targets);
  rescan_.clear();
  forks_ = g_forks;
}

}  // namespace vrk::platform
