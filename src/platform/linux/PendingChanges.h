// SPDX-License-Identifier: MIT
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/LinkRegistry.h"
#include "platform/linux/UserFolders.h"

namespace vrk::platform {

// The link changes one export makes on this thread, settled once at its end:
// re-registering a file removes and remakes the same link, which changes
// nothing other programs see and must not cost the caller a second for it.
class PendingChanges {
 public:
  static PendingChanges& OnThisThread() {
    thread_local PendingChanges pending;
    return pending;
  }

  // Before `file`'s link in `folder` may change.
  void Note(const LinkRegistry& folder, const std::string& file) {
    Folder* f = FolderOf(folder.fd());
    if (f != nullptr && f->before.count(file) == 0) f->before.emplace(file, folder.Holds(file));
  }
  // A change that counts whatever the links hold afterwards.
  void Changed(int fd) {
    if (Folder* f = FolderOf(fd)) f->always = true;
  }

  void Settle() noexcept {
    std::vector<int> fds;
    for (Folder& f : folders_) {
      bool net = f.always;
      for (const auto& [file, held] : f.before) net = net || Holds(f.fd.get(), file) != held;
      if (net) fds.push_back(f.fd.get());
    }
    if (!fds.empty()) SettleFolderTimes(fds);
    folders_.clear();
  }

 private:
  struct Folder {
    dev_t dev;
    ino_t ino;
    Fd fd;
    std::map<std::string, bool> before;
    bool always = false;
  };

  Folder* FolderOf(int fd) {
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) return nullptr;
    for (Folder& f : folders_) {
      if (f.dev == st.st_dev && f.ino == st.st_ino) return &f;
    }
    Fd copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!copy) return nullptr;
    folders_.push_back({st.st_dev, st.st_ino, std::move(copy), {}, false});
    return &folders_.back();
  }

  static bool Holds(int fd, const std::string& file) {
    return LinkTarget(fd, LinkRegistry::NameFor(file)) == file;
  }

  std::vector<Folder> folders_;
};

}  // namespace vrk::platform
