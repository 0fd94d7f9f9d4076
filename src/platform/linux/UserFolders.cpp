// SPDX-License-Identifier: MIT
#include "platform/linux/UserFolders.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace vrk::platform {

std::string Getenv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string HomeDir() {
  std::string home = Getenv("HOME");
  if (!home.empty() && home[0] == '/') return home;
  std::vector<char> buf(16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  throw std::runtime_error("no home folder");
}

// XDG base folders count only when absolute, as the XDG rules say.
std::string XdgDir(const char* variable, const char* fallbackUnderHome) {
  std::string dir = Getenv(variable);
  if (!dir.empty() && dir[0] == '/') return dir;
  return HomeDir() + "/" + fallbackUnderHome;
}

std::optional<std::string> Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  // A NUL inside would make the system see a shorter, different path.
  if (path.empty() || path.find('\0') != std::string::npos ||
      ::realpath(path.c_str(), resolved) == nullptr) {
    return std::nullopt;
  }
  return std::string(resolved);
}

std::optional<std::string> CanonicalEvenIfGone(const std::string& path) {
  if (auto canonical = Canonical(path)) return canonical;
  if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
  std::filesystem::path given(path);
  std::string name = given.filename().string();
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  std::string folder = given.parent_path().string();
  if (auto canonical = Canonical(folder.empty() ? "." : folder)) {
    return *canonical + (canonical->ends_with('/') ? "" : "/") + name;
  }
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(given, ec);
  if (ec) return std::nullopt;
  return absolute.lexically_normal().string();
}

void MakeFolders(const std::string& path, mode_t mode) {
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), mode) == 0) {
      // The umask took what it liked; a folder with mode 000 would lock the
      // user, and this library, out of it for good.
      Fd made(::open(part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!made || ::fchmod(made.get(), mode) != 0) {
        throw std::runtime_error("cannot set the mode of " + part);
      }
    } else if (errno != EEXIST) {
      throw std::runtime_error("cannot create folder " + part);
    }
  }
}

std::optional<std::string> FindHomeDir() {
  try {
    return HomeDir();
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

std::optional<std::string> FindXdgDir(const char* variable, const char* fallbackUnderHome) {
  try {
    return XdgDir(variable, fallbackUnderHome);
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

std::vector<std::string> XdgDirList(const char* variable, const char* fallback) {
  std::string value = Getenv(variable);
  std::string_view list = value.empty() ? std::string_view(fallback) : std::string_view(value);
  std::vector<std::string> dirs;
  while (!list.empty()) {
    size_t colon = list.find(':');
    std::string_view dir = list.substr(0, colon);
    if (!dir.empty() && dir.front() == '/') dirs.emplace_back(dir);
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
  }
  return dirs;
}

}  // namespace vrk::platform
