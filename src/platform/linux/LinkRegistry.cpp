// SPDX-License-Identifier: MIT
#include "platform/linux/LinkRegistry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "platform/linux/FileIo.h"
#include "platform/linux/SessionAnnouncement.h"

namespace vrk::platform {

namespace {

constexpr char kSessionName[] = "vrkfont-fonts";
constexpr char kBootFolderPrefix[] = "vrkfont-fonts-";
constexpr size_t kBootIdLength = 36;
constexpr mode_t kSessionMode = S_ISVTX | S_IRWXU;

struct DirClose {
  void operator()(DIR* d) const { ::closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirClose>;

// A listing of the folder behind `fd`, which stays open for the caller.
DirPtr List(int fd) {
  int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return nullptr;
  DIR* d = ::fdopendir(copy);
  if (d == nullptr) ::close(copy);
  return DirPtr(d);
}

// The runtime folder counts only as the XDG rules promise it: absolute, and a
// folder of the user's that nobody else can enter.
std::optional<std::string> UsableRuntimeDir() {
  std::string runtime = Getenv("XDG_RUNTIME_DIR");
  struct stat st;
  if (runtime.empty() || runtime[0] != '/' || ::stat(runtime.c_str(), &st) != 0 ||
      !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    return std::nullopt;
  }
  return runtime;
}

// Part of the fallback folder's name, so that a reboot ends the session as a
// logout empties the runtime folder.
std::string BootId() {
  auto id = ReadRegularFile("/proc/sys/kernel/random/boot_id", 64);
  if (id && !id->empty() && id->back() == '\n') id->pop_back();
  if (!id || id->size() != kBootIdLength ||
      id->find_first_not_of("0123456789abcdef-") != std::string::npos) {
    throw std::runtime_error("no boot id");
  }
  return *id;
}

std::string FallbackParent() {
  return XdgDir("XDG_CACHE_HOME", ".cache");
}

std::string SessionFolderPath() {
  if (auto runtime = UsableRuntimeDir()) return *runtime + "/" + kSessionName;
  return FallbackParent() + "/" + kBootFolderPrefix + BootId();
}

// The folder when it is the user's own: a folder, owned by the effective
// user, and for a private one neither a link nor open to others. Nothing when
// it is missing and not to be made; throws when it is refused.
Fd OpenOwnFolder(const std::string& dir, bool create, mode_t privateMode, bool mayBeLink) {
  if (create && ::mkdir(dir.c_str(), privateMode & 0777) != 0 && errno != EEXIST) {
    throw std::runtime_error("cannot create " + dir);
  }
  Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (mayBeLink ? 0 : O_NOFOLLOW)));
  if (!fd) {
    if (errno == ENOENT && !create) return Fd();
    throw std::runtime_error("refusing the font folder " + dir);
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    throw std::runtime_error("refusing the font folder " + dir);
  }
  if (!mayBeLink && (st.st_mode & 07777) != privateMode) {
    if (!create && (st.st_mode & 022) != 0) {
      throw std::runtime_error("refusing the font folder " + dir);
    }
    if (create && ::fchmod(fd.get(), privateMode) != 0) {
      throw std::runtime_error("cannot protect " + dir);
    }
  }
  return fd;
}

// Session folders of earlier boots left in the cache folder: their links go,
// then the folder if nothing else is in it. Only the user's own folders.
void RemoveEarlierBoots() {
  const std::string current = kBootFolderPrefix + BootId();
  Fd parent(::open(FallbackParent().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DirPtr entries = parent ? List(parent.get()) : nullptr;
  if (!entries) return;
  const std::string prefix = kBootFolderPrefix;
  while (const dirent* entry = ::readdir(entries.get())) {
    std::string name = entry->d_name;
    if (name.size() != prefix.size() + kBootIdLength || !name.starts_with(prefix) ||
        name == current) {
      continue;
    }
    Fd old(::openat(parent.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!old || ::fstat(old.get(), &st) != 0 || st.st_uid != ::geteuid()) continue;
    if (DirPtr links = List(old.get())) {
      while (const dirent* link = ::readdir(links.get())) {
        if (::fstatat(old.get(), link->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode)) {
          ::unlinkat(old.get(), link->d_name, 0);
        }
      }
    }
    ::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR);
  }
}

}  // namespace

// 128-bit FNV-1a in two 64-bit halves, so that every platform names a link as
// the first versions did with a native 128-bit type: links made by any
// version are found by every other.
std::string PathHash(const std::string& path) {
  uint64_t hi = 0x6c62272e07bb0142ULL;
  uint64_t lo = 0x62b821756295c58dULL;
  // The prime is 2^88 + 0x13b.
  constexpr uint64_t kLow = 0x13b;
  for (unsigned char c : path) {
    lo ^= c;
    uint64_t carry = ((lo >> 32) * kLow + (((lo & 0xffffffffULL) * kLow) >> 32)) >> 32;
    hi = hi * kLow + carry + (lo << 24);
    lo *= kLow;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex(32, '0');
  for (int i = 0; i < 16; ++i) {
    hex[15 - i] = kHex[(hi >> (4 * i)) & 0xF];
    hex[31 - i] = kHex[(lo >> (4 * i)) & 0xF];
  }
  return hex;
}

std::string LinkRegistry::NameFor(const std::string& canonical) {
  std::string name = canonical.substr(canonical.find_last_of('/') + 1);
  auto dot = name.find_last_of('.');
  return PathHash(canonical) + (dot == std::string::npos ? "" : name.substr(dot));
}

bool LinkRegistry::Add(const std::string& canonical, bool* changed) const {
  if (!folder_) return false;
  std::string name = NameFor(canonical);
  if (Target(name) == canonical) return true;
  struct stat st;
  if (::fstatat(fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode) &&
      ::unlinkat(fd(), name.c_str(), 0) == 0 && changed != nullptr) {
    *changed = true;
  }
  if (::symlinkat(canonical.c_str(), fd(), name.c_str()) == 0) {
    if (changed != nullptr) *changed = true;
    return true;
  }
  // Another process may have made the same link meanwhile.
  return Target(name) == canonical;
}

bool LinkRegistry::Remove(const std::string& canonical, bool* changed) const {
  if (!folder_) return true;
  std::string name = NameFor(canonical);
  if (Target(name) != canonical) return true;
  if (::unlinkat(fd(), name.c_str(), 0) == 0) {
    if (changed != nullptr) *changed = true;
    return true;
  }
  return errno == ENOENT;
}

std::optional<std::string> LinkRegistry::FileBehind(const std::string& path) const {
  for (const std::string* dir : {&dir_, &alias_}) {
    if (dir->empty() || path.size() <= dir->size() || path.compare(0, dir->size(), *dir) != 0 ||
        path[dir->size()] != '/' || path.find('/', dir->size() + 1) != std::string::npos) {
      continue;
    }
    return Target(path.substr(dir->size() + 1));
  }
  return std::nullopt;
}

void SettleFolderTimes(const std::vector<int>& folders) {
  timespec now{};
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return;
  const timespec next{now.tv_sec + 1, 0};
  while (::clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &next, nullptr) == EINTR) {
  }
  // Explicit times: the clock the kernel stamps files with lags a little.
  const timespec times[2] = {{0, UTIME_OMIT}, next};
  for (int fd : folders) {
    if (fd >= 0) ::futimens(fd, times);
  }
}

std::optional<std::string> LinkTarget(int folder, const std::string& name) {
  char target[PATH_MAX];
  ssize_t n = ::readlinkat(folder, name.c_str(), target, sizeof target);
  if (n < 0 || static_cast<size_t>(n) >= sizeof target) return std::nullopt;
  return std::string(target, static_cast<size_t>(n));
}

std::optional<std::string> LinkRegistry::Target(const std::string& name) const {
  if (!folder_) return std::nullopt;
  return LinkTarget(fd(), name);
}

// In the runtime folder, else in the user's cache folder under the boot's id.
// The sticky bit keeps the runtime folder's periodic clean-up away.
std::optional<LinkRegistry> SessionRegistry(bool create) {
  std::string dir = SessionFolderPath();
  if (create && !UsableRuntimeDir()) MakeFolders(FallbackParent(), 0700);
  Fd fd = OpenOwnFolder(dir, create, kSessionMode, false);
  if (!fd) return std::nullopt;
  if (create) {
    try {
      RemoveEarlierBoots();
    } catch (const std::runtime_error&) {
      // Without a boot id or a home there is nothing earlier to find.
    }
  }
  std::string alias;
  try {
    alias = SessionLinkPath();
  } catch (const std::runtime_error&) {
    // No home: no link to the folder either.
  }
  return LinkRegistry(std::move(dir), std::move(fd), std::move(alias));
}

std::optional<LinkRegistry> SessionRegistryForReading() {
  try {
    // Every lookup reads the registry before it loads fontconfig's
    // configuration, so none of them loads a folder someone else planted.
    WithdrawUnsafeAnnouncement();
    return SessionRegistry(false);
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

}  // namespace vrk::platform
