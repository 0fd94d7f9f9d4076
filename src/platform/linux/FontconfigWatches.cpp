// SPDX-License-Identifier: MIT
#include "platform/linux/FontconfigWatches.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <ctime>

namespace vrk::platform {

int64_t Nanoseconds(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The clock file times are taken from.
int64_t FileClockNow() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return Nanoseconds(now);
}

Watches::~Watches() {
  for (const Entry& entry : entries_) {
    if (entry.wd >= 0) ::inotify_rm_watch(fd_, entry.wd);
  }
}

std::string Watches::Stamp(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "";
  return std::to_string(st.st_ino) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_ctim.tv_nsec);
}

void Watches::Add(const std::string& path, Kind kind) {
  entries_.push_back({path, kind, -1, Stamp(path)});
}

void Watches::Notify(int fd) {
  if (fd < 0 || fd_ >= 0) return;
  fd_ = fd;
  verify_ = true;
  // A folder changes by what it holds; a file by what it says. Missing paths,
  // and any past the watch limit, stay compared by their stamps.
  constexpr uint32_t kSelf = IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
  for (size_t i = 0; i < entries_.size(); ++i) {
    Entry& entry = entries_[i];
    entry.wd = ::inotify_add_watch(
        fd, entry.path.c_str(),
        kSelf | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR);
    if (entry.wd < 0 && errno == ENOTDIR) {
      entry.wd = ::inotify_add_watch(fd, entry.path.c_str(), kSelf | IN_MODIFY | IN_CLOSE_WRITE);
    }
    if (entry.wd >= 0) byWd_.emplace(entry.wd, i);
  }
}

void Watches::Forget() {
  fd_ = -1;
  byWd_.clear();
  for (Entry& entry : entries_) entry.wd = -1;
}

bool Watches::TouchedSince(int64_t since) const {
  for (const Entry& entry : entries_) {
    struct stat st;
    if (::stat(entry.path.c_str(), &st) == 0 &&
        (Nanoseconds(st.st_mtim) >= since || Nanoseconds(st.st_ctim) >= since)) {
      return true;
    }
  }
  return false;
}

bool Watches::Changed(std::set<std::string>& targetFolders) {
  bool changed = false;
  auto note = [&](const Entry& entry) {
    if (entry.kind == kRebuild) {
      changed = true;
    } else {
      targetFolders.insert(entry.path);
    }
  };
  if (fd_ >= 0) {
    alignas(struct inotify_event) char buf[4096];
    for (;;) {
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      for (char* p = buf; p < buf + n;) {
        const auto* event = reinterpret_cast<const struct inotify_event*>(p);
        if (event->mask & IN_Q_OVERFLOW) changed = true;
        auto [first, last] = byWd_.equal_range(event->wd);
        for (auto it = first; it != last; ++it) note(entries_[it->second]);
        p += sizeof(struct inotify_event) + event->len;
      }
    }
  }
  for (Entry& entry : entries_) {
    if (entry.wd >= 0 && !verify_) continue;
    std::string stamp = Stamp(entry.path);
    if (stamp == entry.stamp) continue;
    entry.stamp = std::move(stamp);
    note(entry);
  }
  verify_ = false;
  return changed;
}
}  // namespace vrk::platform
