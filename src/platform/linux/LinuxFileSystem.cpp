#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/linux/LinuxPlatform.h"

namespace vrk::platform {

namespace {

namespace fs = std::filesystem;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::optional<std::string> HomeDir() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home);
  std::vector<char> buf(16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return std::string(found->pw_dir);
  }
  return std::nullopt;
}

// The system sees a path only up to its first NUL: such a path names nothing.
bool Usable(const std::string& path) {
  return !path.empty() && path.find('\0') == std::string::npos;
}

class LinuxFileSystem final : public FileSystem {
 public:
  bool Exists(const std::string& path) override {
    struct stat st;
    return Usable(path) && ::stat(path.c_str(), &st) == 0;
  }

  std::optional<uint64_t> ItemSize(const std::string& path) override {
    struct stat st;
    if (!Usable(path) || ::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
  }

  bool CopyTree(const std::string& from, const std::string& to) override {
    if (!Usable(from) || !Usable(to)) return false;
    std::error_code ec;
    if (fs::symlink_status(to, ec).type() != fs::file_type::not_found) return false;
    if (!fs::exists(fs::path(to).parent_path(), ec)) return false;
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    return !ec;
  }

  bool WriteFileAtomically(const std::string& path, const std::string& bytes) override {
    if (!Usable(path)) return false;
    fs::path target(path);
    if (target.filename().empty()) return false;
    std::string pattern = (target.parent_path() / ("." + target.filename().string())).string();
    pattern += ".XXXXXX";
    std::vector<char> tmpName(pattern.begin(), pattern.end());
    tmpName.push_back('\0');
    Fd fd(::mkostemp(tmpName.data(), O_CLOEXEC));
    if (fd.get() < 0) return false;
    bool ok = ::fchmod(fd.get(), 0644) == 0 && WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    ok = ::close(fd.release()) == 0 && ok;
    if (ok && ::rename(tmpName.data(), path.c_str()) == 0) return true;
    ::unlink(tmpName.data());
    return false;
  }

  std::optional<std::string> UserDataDir() override {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') return std::string(xdg);
    auto home = HomeDir();
    if (!home) return std::nullopt;
    return *home + "/.local/share";
  }
};

}  // namespace

std::unique_ptr<FileSystem> NewLinuxFileSystem() {
  return std::make_unique<LinuxFileSystem>();
}

}  // namespace vrk::platform
