#include "platform/linux/DesktopEntries.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <set>

#include "extension/NSStringEx.h"

namespace vrk::platform::desktop {

namespace {

// Real entries stay far below these, translations and all; anything larger is
// not read at all.
constexpr size_t kMaxEntryBytes = 1 << 20;
constexpr size_t kMaxLineBytes = 64 << 10;
// Bounds on the walk that builds the name table.
constexpr size_t kMaxTableFiles = 20000;
constexpr int kMaxTableDepth = 8;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool Usable(const std::string& path) {
  return !path.empty() && path.find('\0') == std::string::npos;
}

// Regular files only, opened so that a FIFO or a device never blocks us.
std::optional<std::string> ReadSmallFile(const std::string& path, size_t limit) {
  if (!Usable(path)) return std::nullopt;
  Fd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > limit) return std::nullopt;
  std::string bytes(static_cast<size_t>(st.st_size) + 1, '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  if (done > limit) return std::nullopt;  // grew while we read it
  bytes.resize(done);
  return bytes;
}

std::string_view Trim(std::string_view s) {
  size_t begin = s.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  return s.substr(begin, s.find_last_not_of(" \t\r") - begin + 1);
}

std::string Unescape(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        out += value[i];
        break;
    }
  }
  return out;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return Usable(path) && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

// TryExec: an absolute path, or a name looked up in PATH.
bool ProgramExists(const std::string& program) {
  if (program.empty()) return false;
  if (program.find('/') != std::string::npos) {
    return program.front() == '/' && IsExecutableFile(program);
  }
  const char* path = std::getenv("PATH");
  std::string_view list = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!list.empty()) {
    size_t colon = list.find(':');
    std::string_view dir = list.substr(0, colon);
    if (!dir.empty() && dir.front() == '/' && IsExecutableFile(std::string(dir) + "/" + program)) {
      return true;
    }
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
  }
  return false;
}

std::optional<std::string> HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home);
  std::vector<char> buf(16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return std::string(found->pw_dir);
  }
  return std::nullopt;
}

using FolderId = std::pair<uint64_t, uint64_t>;

std::optional<struct stat> StatOf(const std::string& path) {
  struct stat st;
  if (!Usable(path) || stat(path.c_str(), &st) != 0) return std::nullopt;
  return st;
}

bool IsRegular(const std::string& path) {
  auto st = StatOf(path);
  return st && S_ISREG(st->st_mode);
}

// Each "-" of an ID may stand for a subfolder's "/". A folder already entered
// is not entered again, so folder links that loop cannot multiply the work.
std::optional<std::string> Search(const std::string& folder, std::string_view rest,
                                  std::set<FolderId>& entered) {
  auto st = StatOf(folder);
  if (!st || !S_ISDIR(st->st_mode)) return std::nullopt;
  if (!entered.insert({st->st_dev, st->st_ino}).second) return std::nullopt;
  std::string plain = folder + "/" + std::string(rest) + ".desktop";
  if (IsRegular(plain)) return plain;
  for (size_t dash = rest.find('-'); dash != std::string_view::npos;
       dash = rest.find('-', dash + 1)) {
    std::string_view sub = rest.substr(0, dash);
    if (sub.empty() || sub == "." || sub == ".." || sub.size() > NAME_MAX) continue;
    if (auto found = Search(folder + "/" + std::string(sub), rest.substr(dash + 1), entered)) {
      return found;
    }
  }
  return std::nullopt;
}

NameTable::Folder FolderState(const std::string& path) {
  NameTable::Folder f{path};
  if (auto st = StatOf(path)) {
    f.dev = st->st_dev;
    f.ino = st->st_ino;
    f.mtime = static_cast<int64_t>(st->st_mtim.tv_sec) * 1000000000 + st->st_mtim.tv_nsec;
  }
  return f;
}

class TableBuilder {
 public:
  explicit TableBuilder(NameTable& table) : table_(table) {}

  void Walk(const std::string& folder, const std::string& idPrefix, int depth) {
    table_.folders.push_back(FolderState(folder));
    auto st = StatOf(folder);
    if (!st || !S_ISDIR(st->st_mode) || depth > kMaxTableDepth) return;
    if (!entered_.insert({st->st_dev, st->st_ino}).second) return;
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
      while (dirent* d = readdir(dir)) {
        std::string name = d->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
      }
      closedir(dir);
    }
    std::sort(names.begin(), names.end());  // the same table whatever the listing order
    for (const std::string& name : names) {
      if (files_ >= kMaxTableFiles) return;
      ++files_;
      std::string path = folder + "/" + name;
      auto child = StatOf(path);
      if (!child) continue;
      if (S_ISDIR(child->st_mode)) {
        Walk(path, idPrefix + name + "-", depth + 1);
      } else if (S_ISREG(child->st_mode) && name.size() > 8 && name.ends_with(".desktop")) {
        Add(idPrefix + name.substr(0, name.size() - 8), path);
      }
    }
  }

 private:
  // The first entry with an ID hides the later ones, usable or not.
  void Add(const std::string& id, const std::string& path) {
    if (!seen_.insert(id).second) return;
    std::optional<Entry> entry = ReadEntry(path);
    if (!entry || entry->type != "Application" || entry->hidden || entry->name.empty()) return;
    table_.byId.emplace(id, entry->name);
    if (!entry->startupWmClass.empty()) {
      table_.byWmClass.emplace(entry->startupWmClass, entry->name);
    }
  }

  NameTable& table_;
  std::set<FolderId> entered_;
  std::set<std::string> seen_;
  size_t files_ = 0;
};

std::shared_ptr<const NameTable> BuildTable(const std::vector<std::string>& data) {
  auto table = std::make_shared<NameTable>();
  table->data = data;
  TableBuilder builder(*table);
  for (const std::string& folder : data) {
    table->folders.push_back(FolderState(folder));
    builder.Walk(folder + "/applications", "", 0);
  }
  return table;
}

bool Stale(const NameTable& table, const std::vector<std::string>& data) {
  if (table.data != data) return true;
  for (const NameTable::Folder& f : table.folders) {
    if (!(FolderState(f.path) == f)) return true;
  }
  return false;
}

}  // namespace

std::optional<Entry> ReadEntry(const std::string& path) {
  std::optional<std::string> bytes = ReadSmallFile(path, kMaxEntryBytes);
  if (!bytes || bytes->find('\0') != std::string::npos || !IsValidUtf8(*bytes)) {
    return std::nullopt;
  }
  Entry entry;
  bool started = false;
  bool inMainGroup = false;
  std::set<std::string_view> keys;
  std::string_view rest = *bytes;
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.size() > kMaxLineBytes) return std::nullopt;
    std::string_view text = Trim(line);
    if (text.empty() || text.front() == '#') continue;
    if (text.front() == '[') {
      inMainGroup = text == "[Desktop Entry]";
      if (!started && !inMainGroup) return std::nullopt;
      started = true;
      continue;
    }
    if (!started) return std::nullopt;  // keys before any group
    size_t eq = text.find('=');
    if (!inMainGroup || eq == std::string_view::npos) continue;
    std::string_view key = Trim(text.substr(0, eq));
    if (!keys.insert(key).second) continue;  // the first of a repeated key counts
    std::string value = Unescape(Trim(text.substr(eq + 1)));
    if (key == "Type") {
      entry.type = value;
    } else if (key == "Name") {
      entry.name = value;
    } else if (key == "StartupWMClass") {
      entry.startupWmClass = value;
    } else if (key == "TryExec") {
      entry.tryExec = value;
    } else if (key == "Hidden") {
      entry.hidden = value == "true";
    }
  }
  if (!started) return std::nullopt;
  return entry;
}

bool MakesInstalled(const Entry& entry) {
  if (entry.type != "Application" || entry.hidden) return false;
  return !entry.tryExec || ProgramExists(*entry.tryExec);
}

// Relative or empty XDG variables are invalid and ignored.
std::vector<std::string> DataFolders() {
  std::vector<std::string> folders;
  const char* home = std::getenv("XDG_DATA_HOME");
  if (home != nullptr && home[0] == '/') {
    folders.emplace_back(home);
  } else if (std::optional<std::string> user = HomeFolder()) {
    folders.push_back(*user + "/.local/share");
  }
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  std::string_view list =
      dirs != nullptr && dirs[0] != '\0' ? dirs : "/usr/local/share/:/usr/share/";
  while (!list.empty()) {
    size_t colon = list.find(':');
    std::string_view dir = list.substr(0, colon);
    if (!dir.empty() && dir.front() == '/') folders.emplace_back(dir);
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
  }
  return folders;
}

std::optional<std::string> FindEntryFile(const std::string& applications, std::string_view id) {
  std::set<FolderId> entered;
  return Search(applications, id, entered);
}

std::optional<std::string> EntryFileForId(std::string_view id) {
  // IDs never hold "/": anything else could climb out of the folders. No entry
  // lies deeper than PATH_MAX.
  if (id.empty() || id.size() > PATH_MAX || id.find('/') != std::string_view::npos ||
      id.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  for (const std::string& data : DataFolders()) {
    if (auto file = FindEntryFile(data + "/applications", id)) return file;
  }
  return std::nullopt;
}

std::optional<std::string> NameTable::NameFor(std::string_view instance,
                                              std::string_view klass) const {
  for (const auto* map : {&byWmClass, &byId}) {
    for (std::string_view key : {klass, instance}) {
      if (key.empty()) continue;
      if (auto it = map->find(key); it != map->end()) return it->second;
    }
  }
  return std::nullopt;
}

std::shared_ptr<const NameTable> CurrentNames() {
  // Never destroyed: exports may still run while the process exits.
  static auto* mutex = new std::mutex;
  static auto* current = new std::shared_ptr<const NameTable>;
  std::vector<std::string> data = DataFolders();
  std::lock_guard<std::mutex> lock(*mutex);
  if (!*current || Stale(**current, data)) *current = BuildTable(data);
  return *current;
}

}  // namespace vrk::platform::desktop
