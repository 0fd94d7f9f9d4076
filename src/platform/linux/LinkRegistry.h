// The link folders that hold the session and persistent registrations.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <optional>
#include <stdexcept>
#include <string>

namespace vrk::platform {

std::string PathHash(const std::string& path);

// A folder of links, one per registered file, named from the hash of the
// file's canonical path (never from its name) and keeping its extension.
class LinkRegistry {
 public:
  explicit LinkRegistry(std::string dir) : dir_(std::move(dir)) {}
  const std::string& dir() const { return dir_; }

  std::string LinkFor(const std::string& canonical) const {
    std::string name = canonical.substr(canonical.find_last_of('/') + 1);
    auto dot = name.find_last_of('.');
    return dir_ + "/" + PathHash(canonical) + (dot == std::string::npos ? "" : name.substr(dot));
  }

  bool Holds(const std::string& canonical) const { return Target(LinkFor(canonical)) == canonical; }

  void Add(const std::string& canonical) const {
    std::string link = LinkFor(canonical);
    if (Target(link) == canonical) return;
    RemoveLink(link);
    if (::symlink(canonical.c_str(), link.c_str()) != 0 && errno != EEXIST) {
      throw std::runtime_error("cannot link " + canonical);
    }
  }

  // Only the library's own link goes; the user's file is never touched.
  bool Remove(const std::string& canonical) const {
    std::string link = LinkFor(canonical);
    return Target(link) != canonical || ::unlink(link.c_str()) == 0 || errno == ENOENT;
  }

  // The registered file behind a path that fontconfig reports for a link.
  std::optional<std::string> FileBehind(const std::string& path) const {
    if (path.size() <= dir_.size() || path.compare(0, dir_.size(), dir_) != 0 ||
        path[dir_.size()] != '/') {
      return std::nullopt;
    }
    return Target(path);
  }

 private:
  static std::optional<std::string> Target(const std::string& link) {
    char target[PATH_MAX];
    ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    if (n < 0 || static_cast<size_t>(n) >= sizeof target) return std::nullopt;
    return std::string(target, static_cast<size_t>(n));
  }
  static void RemoveLink(const std::string& link) {
    struct stat st;
    if (::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(link.c_str());
  }

  std::string dir_;
};

// The session folder; none before the first registration unless `create`.
// Throws when the folder is refused.
std::optional<LinkRegistry> SessionRegistry(bool create);
// Lookups read past a refused folder: a folder someone else planted must not
// take the user's other fonts away with it.
std::optional<LinkRegistry> SessionRegistryForReading();
LinkRegistry PersistentRegistry();

}  // namespace vrk::platform
