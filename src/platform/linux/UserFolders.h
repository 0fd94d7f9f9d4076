// SPDX-License-Identifier: MIT
// Where the user's folders are, and the file operations the backends share.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vrk::platform {

// An open descriptor, closed when it goes.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }

  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
};

std::string Getenv(const char* name);
// $HOME when absolute, else the password entry; throws when neither names one.
std::string HomeDir();
// An XDG base folder: the variable when absolute, else the fallback under home.
std::string XdgDir(const char* variable, const char* fallbackUnderHome);
// The canonical path of an existing file; none for a path with a NUL inside.
std::optional<std::string> Canonical(const std::string& path);
// As Canonical, and for a file that is gone, its folder's canonical path and
// its name, else the absolute path tidied lexically.
std::optional<std::string> CanonicalEvenIfGone(const std::string& path);
// Folders made here get exactly `mode`, whatever the umask; existing ones are
// left as they are.
void MakeFolders(const std::string& path, mode_t mode);

// As HomeDir and XdgDir, for callers that carry on without a home folder.
std::optional<std::string> FindHomeDir();
std::optional<std::string> FindXdgDir(const char* variable, const char* fallbackUnderHome);
// An XDG folder list ("a:b"): the variable's absolute entries in order, the
// fallback when it is unset or empty.
std::vector<std::string> XdgDirList(const char* variable, const char* fallback);

}  // namespace vrk::platform
