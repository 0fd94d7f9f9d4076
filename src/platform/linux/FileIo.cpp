// SPDX-License-Identifier: MIT
#include "platform/linux/FileIo.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/linux/UserFolders.h"

namespace vrk::platform {

bool UsablePath(const std::string& path) {
  return !path.empty() && path.find('\0') == std::string::npos;
}

std::optional<struct stat> StatPath(const std::string& path) {
  struct stat st;
  if (!UsablePath(path) || ::stat(path.c_str(), &st) != 0) return std::nullopt;
  return st;
}

std::optional<std::string> ReadRegularFile(const std::string& path, size_t limit) {
  std::optional<struct stat> named = StatPath(path);
  if (!named || !S_ISREG(named->st_mode)) return std::nullopt;
  struct stat st;
  // The path may have been replaced since: what was opened is checked again.
  Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > limit) return std::nullopt;
  std::string bytes;
  bytes.reserve(static_cast<size_t>(st.st_size) + 1);
  char buf[65536];
  for (;;) {
    // One byte past the limit is enough to tell a file that grew meanwhile.
    size_t want = std::min(sizeof buf, limit + 1 - bytes.size());
    ssize_t n = ::read(fd.get(), buf, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return bytes;
    bytes.append(buf, static_cast<size_t>(n));
    if (bytes.size() > limit) return std::nullopt;
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string HiddenSibling(const std::string& path) {
  std::filesystem::path given(path);
  std::string sibling = given.parent_path().string();
  sibling += "/.";
  sibling += given.filename().string();
  sibling += ".XXXXXX";
  return sibling;
}

bool WriteFileWhole(const std::string& path, std::string_view bytes, mode_t mode) {
  if (!UsablePath(path) || std::filesystem::path(path).filename().empty()) return false;
  std::string temp = HiddenSibling(path);
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace vrk::platform
