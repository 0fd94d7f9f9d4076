// SPDX-License-Identifier: MIT
#include "platform/linux/DesktopEntries.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <set>

#include "extension/Text.h"
#include "platform/linux/FileIo.h"
#include "platform/linux/UserFolders.h"

namespace vrk::platform::desktop {

namespace {

// Real entries stay far below these, translations and all; anything larger is
// not read at all.
constexpr size_t kMaxEntryBytes = 1 << 20;
constexpr size_t kMaxLineBytes = 64 << 10;

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
  return UsablePath(path) && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
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

bool IsRegular(const std::string& path) {
  auto st = StatPath(path);
  return st && S_ISREG(st->st_mode);
}

// Each "-" of an ID may stand for a subfolder's "/". A folder already entered
// is not entered again, so folder links that loop cannot multiply the work.
std::optional<std::string> Search(const std::string& folder, std::string_view rest,
                                  std::set<FolderId>& entered) {
  auto st = StatPath(folder);
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

}  // namespace

std::optional<Entry> ReadEntry(const std::string& path) {
  std::optional<std::string> bytes = ReadRegularFile(path, kMaxEntryBytes);
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

std::vector<std::string> DataFolders() {
  std::vector<std::string> folders;
  if (std::optional<std::string> user = FindXdgDir("XDG_DATA_HOME", ".local/share")) {
    folders.push_back(std::move(*user));
  }
  for (std::string& dir : XdgDirList("XDG_DATA_DIRS", "/usr/local/share/:/usr/share/")) {
    folders.push_back(std::move(dir));
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

}  // namespace vrk::platform::desktop
