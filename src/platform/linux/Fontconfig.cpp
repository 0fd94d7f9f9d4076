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

#include "extension/NSStringEx.h"
#include "platform/linux/UserFolders.h"

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

std::optional<LinkRegistry> PersistentRegistryForReading() {
  try {
    return PersistentRegistry();
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

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

int64_t Nanoseconds(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The clock file times are taken from.
int64_t FileClockNow() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return Nanoseconds(now);
}

}  // namespace

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

Watches::~Watches() {
  for (const Entry& entry : entries_) {
    if (entry.wd >= 0) ::inotify_rm_watch(fd_, entry.wd);
  }
}

std::string Watches::Stamp(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "";
  return std::to_string(st.st_ino) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_ctim.tv_nsec);
}

void Watches::Add(const std::string& path, Kind kind) {
  entries_.push_back({path, kind, -1, Stamp(path)});
}

void Watches::Notify(int fd) {
  if (fd < 0 || fd_ >= 0) return;
  fd_ = fd;
  verify_ = true;
  // A folder changes by what it holds; a file by what it says. Missing paths,
  // and any past the watch limit, stay compared by their stamps.
  constexpr uint32_t kSelf = IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
  for (size_t i = 0; i < entries_.size(); ++i) {
    Entry& entry = entries_[i];
    entry.wd = ::inotify_add_watch(
        fd, entry.path.c_str(),
        kSelf | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR);
    if (entry.wd < 0 && errno == ENOTDIR) {
      entry.wd = ::inotify_add_watch(fd, entry.path.c_str(), kSelf | IN_MODIFY | IN_CLOSE_WRITE);
    }
    if (entry.wd >= 0) byWd_.emplace(entry.wd, i);
  }
}

void Watches::Forget() {
  fd_ = -1;
  byWd_.clear();
  for (Entry& entry : entries_) entry.wd = -1;
}

bool Watches::TouchedSince(int64_t since) const {
  for (const Entry& entry : entries_) {
    struct stat st;
    if (::stat(entry.path.c_str(), &st) == 0 &&
        (Nanoseconds(st.st_mtim) >= since || Nanoseconds(st.st_ctim) >= since)) {
      return true;
    }
  }
  return false;
}

bool Watches::Changed(std::set<std::string>& targetFolders) {
  bool changed = false;
  auto note = [&](const Entry& entry) {
    if (entry.kind == kRebuild) {
      changed = true;
    } else {
      targetFolders.insert(entry.path);
    }
  };
  if (fd_ >= 0) {
    alignas(struct inotify_event) char buf[4096];
    for (;;) {
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      for (char* p = buf; p < buf + n;) {
        const auto* event = reinterpret_cast<const struct inotify_event*>(p);
        if (event->mask & IN_Q_OVERFLOW) changed = true;
        auto [first, last] = byWd_.equal_range(event->wd);
        for (auto it = first; it != last; ++it) note(entries_[it->second]);
        p += sizeof(struct inotify_event) + event->len;
      }
    }
  }
  for (Entry& entry : entries_) {
    if (entry.wd >= 0 && !verify_) continue;
    std::string stamp = Stamp(entry.path);
    if (stamp == entry.stamp) continue;
    entry.stamp = std::move(stamp);
    note(entry);
  }
  verify_ = false;
  return changed;
}

Fontconfig::Fontconfig() = default;

Fontconfig::~Fontconfig() {
  watches_.reset();
  if (queue_ >= 0) ::close(queue_);
}

std::mutex& Fontconfig::Mutex() {
  // Never destroyed: a fork may come after static destruction began.
  static std::mutex* mutex = [] {
    auto* m = new std::mutex;
    ::pthread_atfork([] { Mutex().lock(); }, [] { Mutex().unlock(); },
                     [] {
                       ++g_forks;
                       Mutex().unlock();
                     });
    return m;
  }();
  return *mutex;
}

// Made while the library loads, before any thread can fork meanwhile.
[[maybe_unused]] const bool kForkHandlersReady = (Fontconfig::Mutex(), true);

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
  for (const auto& registry : {SessionRegistryForReading(), PersistentRegistryForReading()}) {
    if (!registry) continue;
    DIR* dir = ::opendir(registry->dir().c_str());
    if (dir == nullptr) continue;
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
  }
  return targets;
}

void Fontconfig::Rebuild() {
  const int64_t since = FileClockNow();
  Targets targets = ReadTargets();
  auto load = [&] {
    ConfigPtr fresh(FcInitLoadConfigAndFonts());
    if (!fresh) throw std::runtime_error("fontconfig configuration did not load");
    for (const auto& file : processFonts_) FcConfigAppFontAddFile(fresh.get(), U8(file));
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
  if (auto persistent = PersistentRegistryForReading()) paths.insert(persistent->dir());
  for (const auto& file : processFonts_) paths.insert(FolderOf(file));
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
