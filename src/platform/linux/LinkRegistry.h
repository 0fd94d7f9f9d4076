// The link folders that hold the session and persistent registrations.
#pragma once

#include <optional>
#include <string>

#include "platform/linux/UserFolders.h"

namespace vrk::platform {

std::string PathHash(const std::string& path);

// A folder of links, one per registered file, named from the hash of the
// file's canonical path (never from its name) and keeping its extension.
// Every link is made, read and removed through a descriptor of the folder
// opened when it was verified, so a folder swapped afterwards is never used.
class LinkRegistry {
 public:
  // No descriptor: the folder does not exist yet and holds nothing.
  LinkRegistry(std::string dir, Fd folder) : dir_(std::move(dir)), folder_(std::move(folder)) {}
  const std::string& dir() const { return dir_; }
  int fd() const { return folder_.get(); }

  static std::string NameFor(const std::string& canonical);

  bool Holds(const std::string& canonical) const { return Target(NameFor(canonical)) == canonical; }
  // True when the link is in place.
  bool Add(const std::string& canonical) const;
  // Only the library's own link goes; the user's file is never touched.
  bool Remove(const std::string& canonical) const;
  // The registered file behind a path that fontconfig reports for a link.
  std::optional<std::string> FileBehind(const std::string& path) const;

 private:
  std::optional<std::string> Target(const std::string& name) const;

  std::string dir_;
  Fd folder_;
};

// The session folder; none before the first registration unless `create`.
// Throws when the folder is refused.
std::optional<LinkRegistry> SessionRegistry(bool create);
// Lookups read past a refused folder: a folder someone else planted must not
// take the user's other fonts away with it.
std::optional<LinkRegistry> SessionRegistryForReading();
// Throws when `create` and the folder cannot be made or is refused; for
// reading, an unusable folder holds nothing.
LinkRegistry PersistentRegistry(bool create = false);

}  // namespace vrk::platform
