// SPDX-License-Identifier: MIT
// Telling cheaply whether the files a configuration was built from changed.
#pragma once

#include <time.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vrk::platform {

int64_t Nanoseconds(const struct timespec& t);
// The clock file times are taken from.
int64_t FileClockNow();

// Everything the configuration was built from, watched so that one cheap
// check per call tells whether it still holds: the configuration files and
// font folders fontconfig read, the link folders, and the folders of the
// files behind the links and of the process's own fonts. Each path is first
// compared by its times; a process that keeps asking moves them onto a
// change notification queue, which answers at the same cost however many
// folders there are. (The queue is not made at once: closing one costs a
// short-lived process more than it saves.)
class Watches {
 public:
  enum Kind { kRebuild, kTargets };
  Watches() = default;
  // Takes its paths off the queue; the queue itself lives on.
  ~Watches();
  Watches(const Watches&) = delete;
  Watches& operator=(const Watches&) = delete;

  void Add(const std::string& path, Kind kind);
  // Paths written since `since` (nanoseconds, the file system's clock) may
  // have changed after fontconfig read them.
  bool TouchedSince(int64_t since) const;
  // Moves the paths onto the queue `fd`; the next Changed() still compares
  // their times once, for what changed before.
  void Notify(int fd);
  bool notified() const { return fd_ >= 0; }
  // Whether anything changed; `targetFolders` receives the folders of
  // registered files that saw a change.
  bool Changed(std::set<std::string>& targetFolders);
  // After fork(): the queue is shared with the parent and must not be touched.
  void Forget();

 private:
  struct Entry {
    std::string path;
    Kind kind;
    int wd;  // -1: compared by its stamp
    std::string stamp;
  };
  static std::string Stamp(const std::string& path);

  int fd_ = -1;
  bool verify_ = false;
  std::vector<Entry> entries_;
  std::multimap<int, size_t> byWd_;
};

}  // namespace vrk::platform
