// SPDX-License-Identifier: MIT
#include "platform/linux/WindowOwners.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <utility>
#include <vector>

#include "extension/Text.h"
#include "platform/ForkSafeMutex.h"
#include "platform/linux/FileIo.h"
#include "platform/linux/VersionResource.h"

namespace vrk::platform {

namespace {

// Wine maps a thousand or so files; a much longer list is not Wine's.
constexpr size_t kMaxMapsBytes = 8 << 20;
constexpr size_t kMaxCmdlineBytes = 64 << 10;
constexpr size_t kMaxEnvironBytes = 1 << 20;
constexpr size_t kMaxCachedPrograms = 256;
constexpr size_t kMaxPathComponents = 64;

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && EqualsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

std::string_view BaseName(std::string_view path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string WithoutExtension(std::string_view name) {
  size_t dot = name.rfind('.');
  return std::string(dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot));
}

// The Windows program files the process has mapped, in map order.
std::vector<std::string> MappedPrograms(std::string_view maps) {
  std::vector<std::string> programs;
  while (!maps.empty()) {
    size_t end = maps.find('\n');
    std::string_view line = maps.substr(0, end);
    maps = end == std::string_view::npos ? std::string_view() : maps.substr(end + 1);
    size_t slash = line.find('/');
    if (slash == std::string_view::npos) continue;
    std::string_view path = line.substr(slash);
    if (!EndsWithNoCase(path, ".exe")) continue;  // " (deleted)" ones end otherwise
    if (std::find(programs.begin(), programs.end(), path) == programs.end()) {
      programs.emplace_back(path);
    }
  }
  return programs;
}

std::optional<std::string> EnvironValue(std::string_view environ, std::string_view name) {
  while (!environ.empty()) {
    size_t end = environ.find('\0');
    std::string_view item = environ.substr(0, end);
    environ = end == std::string_view::npos ? std::string_view() : environ.substr(end + 1);
    if (item.size() > name.size() && item.starts_with(name) && item[name.size()] == '=') {
      return std::string(item.substr(name.size() + 1));
    }
  }
  return std::nullopt;
}

// One component of a Windows path inside a folder: as written, else any entry
// that differs only in case, as Wine itself resolves it.
std::optional<std::string> Component(const std::string& folder, std::string_view name) {
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  std::string exact = folder + "/" + std::string(name);
  struct stat st;
  if (lstat(exact.c_str(), &st) == 0) return exact;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return std::nullopt;
  std::optional<std::string> found;
  while (dirent* d = readdir(dir)) {
    if (EqualsNoCase(d->d_name, name)) {
      found = folder + "/" + d->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

// "C:\Program Files\App\app.exe" in the process's prefix.
std::optional<std::string> ResolveInPrefix(std::string_view windowsPath, std::string_view environ) {
  if (windowsPath.size() < 4 || windowsPath[1] != ':' || windowsPath[2] != '\\') {
    return std::nullopt;
  }
  char drive = Lower(windowsPath[0]);
  if (drive < 'a' || drive > 'z') return std::nullopt;
  std::optional<std::string> prefix = EnvironValue(environ, "WINEPREFIX");
  if (!prefix || prefix->empty() || prefix->front() != '/') {
    std::optional<std::string> home = EnvironValue(environ, "HOME");
    if (!home || home->empty() || home->front() != '/') return std::nullopt;
    prefix = *home + "/.wine";
  }
  std::string path = *prefix + "/dosdevices/" + drive + ":";
  std::string_view rest = windowsPath.substr(3);
  for (size_t i = 0; !rest.empty(); ++i) {
    if (i == kMaxPathComponents) return std::nullopt;
    size_t cut = rest.find('\\');
    std::optional<std::string> next = Component(path, rest.substr(0, cut));
    if (!next) return std::nullopt;
    path = std::move(*next);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  }
  return path;
}

// Names read from program files, by the file's identity and age, so a walk
// over many windows of one program reads its file once.
struct ProgramKey {
  uint64_t dev, ino;
  int64_t mtime;
  int64_t size;
  auto operator<=>(const ProgramKey&) const = default;
};

// Never destroyed: exports may still run while the process exits.
std::map<ProgramKey, std::optional<std::string>>& ProgramNames() {
  static auto* names = new std::map<ProgramKey, std::optional<std::string>>;
  return *names;
}

std::optional<std::string> ProgramFileName(const std::string& path) {
  struct stat st;
  if (path.find('\0') != std::string::npos || stat(path.c_str(), &st) != 0 ||
      !S_ISREG(st.st_mode)) {
    return std::nullopt;
  }
  ProgramKey key{st.st_dev, st.st_ino,
                 static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                 static_cast<int64_t>(st.st_size)};
  auto& cache = ProgramNames();
  {
    std::lock_guard<std::mutex> lock(ForkSafeMutex<ProgramKey>());
    if (auto it = cache.find(key); it != cache.end()) return it->second;
  }
  std::optional<std::string> name;
  if (std::optional<pe::VersionNames> names = pe::ReadVersionNamesOfFile(path)) {
    name = names->productName ? names->productName : names->fileDescription;
  }
  std::lock_guard<std::mutex> lock(ForkSafeMutex<ProgramKey>());
  if (cache.size() >= kMaxCachedPrograms) cache.clear();
  cache.emplace(key, name);
  return name;
}

// When the process started, in clock ticks since boot: with the number, it
// tells a process apart from a later one that reuses the number.
std::optional<uint64_t> StartTime(const std::string& dir) {
  std::optional<std::string> stat = ReadRegularFile(dir + "/stat", 4096);
  if (!stat) return std::nullopt;
  size_t close = stat->rfind(')');  // the command name may hold anything
  if (close == std::string::npos) return std::nullopt;
  std::string_view fields = std::string_view(*stat).substr(close + 1);
  // Fields after the name start with the third; the start time is the 22nd.
  for (int field = 3; field < 22; ++field) {
    size_t space = fields.find(' ', 1);
    if (space == std::string_view::npos) return std::nullopt;
    fields = fields.substr(space);
  }
  fields.remove_prefix(1);
  uint64_t ticks = 0;
  size_t digits = 0;
  for (; digits < fields.size() && fields[digits] >= '0' && fields[digits] <= '9'; ++digits) {
    ticks = ticks * 10 + static_cast<uint64_t>(fields[digits] - '0');
  }
  if (digits == 0 || digits > 19) return std::nullopt;
  return ticks;
}

// Names of processes from earlier walks, so a walk reads only the start time
// of a program it has named before.
struct KnownProcess {
  uint64_t started;
  std::optional<std::string> name;
};
std::mutex& KnownMutex() {
  return ForkSafeMutex<KnownProcess>();
}
std::map<uint32_t, KnownProcess>& Known() {
  static auto* known = new std::map<uint32_t, KnownProcess>;  // never destroyed, as the names
  return *known;
}

// Made while the library loads, before any thread can fork meanwhile.
[[maybe_unused]] const bool kCachesReady =
    (ProgramNames(), ForkSafeMutex<ProgramKey>(), Known(), KnownMutex(), true);

std::optional<std::string> Utf8OrNothing(std::string text) {
  if (text.empty() || !IsValidUtf8(text)) return std::nullopt;
  return text;
}

}  // namespace

OwnerNamer::OwnerNamer(std::string procRoot) : procRoot_(std::move(procRoot)) {}

std::optional<std::string> OwnerNamer::FromClass(std::string_view instance,
                                                 std::string_view klass) {
  if (instance.empty() && klass.empty()) return std::nullopt;
  if (!table_) table_ = desktop::CurrentNames();
  if (std::optional<std::string> name = table_->NameFor(instance, klass)) return name;
  return std::string(klass.empty() ? instance : klass);
}

bool OwnerNamer::WantsProcess(std::string_view klass) {
  return klass.size() > 4 && EndsWithNoCase(klass, ".exe");
}

std::optional<std::string> OwnerNamer::FromProcess(uint32_t pid) {
  if (auto it = byProcess_.find(pid); it != byProcess_.end()) return it->second;
  std::optional<std::string>& name = byProcess_[pid];
  std::string dir = procRoot_ + "/" + std::to_string(pid);
  std::optional<uint64_t> started = StartTime(dir);
  if (started) {
    std::lock_guard<std::mutex> lock(KnownMutex());
    auto it = Known().find(pid);
    if (it != Known().end() && it->second.started == *started) return name = it->second.name;
  }
  name = NameOfProcess(dir);
  if (started) {
    std::lock_guard<std::mutex> lock(KnownMutex());
    if (Known().size() >= kMaxCachedPrograms) Known().clear();
    Known()[pid] = {*started, name};
  }
  return name;
}

std::optional<std::string> OwnerNamer::NameOfProcess(const std::string& dir) {
  std::optional<std::string> name;
  std::optional<std::string> cmdline = ReadRegularFile(dir + "/cmdline", kMaxCmdlineBytes);
  if (!cmdline) return name;
  // Wine sets the command line to the program's Windows path; resolved in the
  // prefix, it costs a few small reads, where the map list runs to thousands
  // of lines, so that list is only read when the path leads nowhere.
  std::string_view argv0 = *cmdline;
  argv0 = argv0.substr(0, argv0.find('\0'));
  std::string_view argvName = BaseName(argv0);
  // Any other process is no Windows program, and its maps are not read.
  if (!EndsWithNoCase(argvName, ".exe")) return name;
  std::optional<std::string> file;
  std::optional<std::string> environ = ReadRegularFile(dir + "/environ", kMaxEnvironBytes);
  if (environ) file = ResolveInPrefix(argv0, *environ);
  if (!file) {
    std::optional<std::string> maps = ReadRegularFile(dir + "/maps", kMaxMapsBytes);
    std::vector<std::string> programs = MappedPrograms(maps ? *maps : std::string_view());
    for (const std::string& program : programs) {
      if (!argvName.empty() && EqualsNoCase(BaseName(program), argvName)) {
        file = program;
        break;
      }
    }
    if (!file && programs.size() == 1) file = programs.front();
  }

  if (file) name = ProgramFileName(*file);
  if (!name && file) name = Utf8OrNothing(WithoutExtension(BaseName(*file)));
  if (!name) name = Utf8OrNothing(WithoutExtension(argvName));
  return name;
}

}  // namespace vrk::platform
