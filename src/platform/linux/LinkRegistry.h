// SPDX-License-Identifier: MIT
// The link folder that holds the session's registrations.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/UserFolders.h"

namespace vrk::platform {

std::string PathHash(const std::string& path);

// Where the link `name` inside the open folder points; none for anything else.
std::optional<std::string> LinkTarget(int folder, const std::string& name);

// A folder of links, one per registered file, named from the hash of the
// file's canonical path (never from its name) and keeping its extension.
// Every link is made, read and removed through a descriptor of the folder
// opened when it was verified, so a folder swapped afterwards is never used.
class LinkRegistry {
 public:
  // No descriptor: the folder does not exist yet and holds nothing.
  LinkRegistry(std::string dir, Fd folder, std::string alias = {})
      : dir_(std::move(dir)), folder_(std::move(folder)), alias_(std::move(alias)) {}
  const std::string& dir() const { return dir_; }
  int fd() const { return folder_.get(); }

  static std::string NameFor(const std::string& canonical);

  bool Holds(const std::string& canonical) const { return Target(NameFor(canonical)) == canonical; }
  // True when the link is in place; `changed` is set when the folder changed.
  bool Add(const std::string& canonical, bool* changed = nullptr) const;
  // Only the library's own link goes; the user's file is never touched.
  bool Remove(const std::string& canonical, bool* changed = nullptr) const;
  // The registered file behind a path that fontconfig reports for a link,
  // found through the folder or through the link that leads to it.
  std::optional<std::string> FileBehind(const std::string& path) const;

 private:
  std::optional<std::string> Target(const std::string& name) const;

  std::string dir_;
  Fd folder_;
  std::string alias_;  // another path of the folder; empty when none
};

// Fontconfig notices a change only when a folder's time, in whole seconds, is
// later than the second of its last look, and it looks at most once a second
// or so: a look in the second of the change would hide it for good. Waits for
// the next second and gives the folders that second, which every look made
// before it is earlier than, and which is never in the future.
void SettleFolderTimes(const std::vector<int>& folders);

// The session folder; none before the first registration unless `create`.
// Throws when the folder is refused.
std::optional<LinkRegistry> SessionRegistry(bool create);
// Lookups read past a refused folder: a folder someone else planted must not
// take the user's other fonts away with it.
std::optional<LinkRegistry> SessionRegistryForReading();

}  // namespace vrk::platform
