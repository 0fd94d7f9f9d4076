// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string_view>
#include <vector>

#include "platform/linux/FileIo.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/UserFolders.h"

namespace vrk::platform {

namespace {

namespace fs = std::filesystem;

// Modes are set explicitly after creation, so the caller's umask never leaves
// the library with folders or files it cannot use.
constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kSharedFolderMode = 0755;
constexpr mode_t kFileMode = 0644;
constexpr mode_t kExecutableMode = 0755;

bool CopyBytes(int in, int out, std::vector<char>& buffer) {
  while (true) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(out, {buffer.data(), static_cast<size_t>(n)})) return false;
  }
}

bool CopyFileContents(const std::string& from, const std::string& to, bool followLink,
                      std::vector<char>& buffer) {
  const int noFollow = followLink ? 0 : O_NOFOLLOW;
  Fd in(::open(from.c_str(), O_RDONLY | noFollow | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  if (in.get() < 0 || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) return false;
  bool ok = ::fchmod(out, (st.st_mode & S_IXUSR) ? kExecutableMode : kFileMode) == 0 &&
            CopyBytes(in.get(), out, buffer);
  return ::close(out) == 0 && ok;
}

bool MakeFolder(const std::string& path, mode_t mode) {
  return ::mkdir(path.c_str(), 0700) == 0 && ::chmod(path.c_str(), mode) == 0;
}

bool CopyLink(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::path target = fs::read_symlink(from, ec);
  return !ec && ::symlink(target.c_str(), to.c_str()) == 0;
}

// Copies the item at from (links followed) to the new path to: a folder with
// everything below it, links inside kept as links; anything but folders,
// files and links fails the copy.
bool CopyItem(const std::string& from, const std::string& to) {
  std::vector<char> buffer(1 << 16);
  std::error_code ec;
  const fs::file_status top = fs::status(from, ec);
  if (ec) return false;
  if (fs::is_regular_file(top)) return CopyFileContents(from, to, true, buffer);
  if (!fs::is_directory(top) || !MakeFolder(to, kSharedFolderMode)) return false;

  const fs::path root(from);
  fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string source = it->path().string();
    const std::string copy = (fs::path(to) / it->path().lexically_relative(root)).string();
    const fs::file_type type = it->symlink_status(ec).type();
    if (ec) return false;
    bool ok = false;
    if (type == fs::file_type::directory) {
      ok = MakeFolder(copy, kSharedFolderMode);
    } else if (type == fs::file_type::regular) {
      ok = CopyFileContents(source, copy, false, buffer);
    } else if (type == fs::file_type::symlink) {
      ok = CopyLink(source, copy);
    }
    if (!ok) return false;
  }
  return !ec;
}

// Renames without replacing what may have appeared at `to` meanwhile.
bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat st;
  return ::lstat(to.c_str(), &st) != 0 && errno == ENOENT &&
         ::rename(from.c_str(), to.c_str()) == 0;
}

class LinuxFileSystem final : public FileSystem {
 public:
  bool Exists(const std::string& path) override {
    struct stat st;
    return UsablePath(path) && ::stat(path.c_str(), &st) == 0;
  }

  std::optional<uint64_t> ItemSize(const std::string& path) override {
    struct stat st;
    if (!UsablePath(path) || ::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
  }

  bool CopyTree(const std::string& from, const std::string& to) override {
    if (!UsablePath(from) || !UsablePath(to)) return false;
    const fs::path target(to);
    if (target.filename().empty()) return false;
    std::error_code ec;
    if (fs::symlink_status(target, ec).type() != fs::file_type::not_found) return false;
    if (!fs::is_directory(target.parent_path(), ec)) return false;

    // Built in a private folder beside the target and moved into place whole:
    // a copy that stops part-way never looks installed.
    std::string stage = HiddenSibling(to);
    if (::mkdtemp(stage.data()) == nullptr) return false;
    if (::chmod(stage.c_str(), kPrivateFolderMode) != 0) {
      ::rmdir(stage.c_str());
      return false;
    }
    std::string item = stage;
    item += '/';
    item += target.filename().string();
    const bool ok = CopyItem(from, item) && RenameNoReplace(item, to);
    fs::remove_all(stage, ec);
    return ok;
  }

  bool MakeFolders(const std::string& base, const std::string& path) override {
    if (!UsablePath(base) || !UsablePath(path) || path.size() <= base.size() + 1 ||
        path.compare(0, base.size(), base) != 0 || path[base.size()] != '/') {
      return false;
    }
    Fd parent(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0) return false;
    // Walks down by handle, so each folder is made inside the one just checked.
    for (const fs::path& part : fs::path(path.substr(base.size() + 1))) {
      const std::string name = part.string();
      if (name.empty() || name == "." || name == "..") return false;
      if (::mkdirat(parent.get(), name.c_str(), kPrivateFolderMode) == 0) {
        if (::fchmodat(parent.get(), name.c_str(), kPrivateFolderMode, 0) != 0) return false;
      } else if (errno != EEXIST) {
        return false;
      }
      Fd child(::openat(parent.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (child.get() < 0) return false;
      parent = std::move(child);
    }
    return true;
  }

  bool WriteFileAtomically(const std::string& path, const std::string& bytes) override {
    return WriteFileWhole(path, bytes);
  }

  std::optional<std::string> UserDataDir() override {
    return FindXdgDir("XDG_DATA_HOME", ".local/share");
  }
};

}  // namespace

std::unique_ptr<FileSystem> NewLinuxFileSystem() {
  return std::make_unique<LinuxFileSystem>();
}

}  // namespace vrk::platform
