#include "platform/linux/LinkRegistry.h"

#include "platform/linux/UserFolders.h"

namespace vrk::platform {

// 128-bit FNV-1a: stable across builds and processes, and wide enough that two
// paths never share a link name in practice (a link's target is checked too).
std::string PathHash(const std::string& path) {
  unsigned __int128 hash =
      (static_cast<unsigned __int128>(0x6c62272e07bb0142ULL) << 64) | 0x62b821756295c58dULL;
  const unsigned __int128 prime = (static_cast<unsigned __int128>(1) << 88) | 0x13B;
  for (unsigned char c : path) {
    hash ^= c;
    hash *= prime;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex(32, '0');
  for (int i = 31; i >= 0; --i) {
    hex[i] = kHex[static_cast<unsigned>(hash & 0xF)];
    hash >>= 4;
  }
  return hex;
}

// The session folder: in the runtime directory, else a private folder of the
// user's under the temporary directory, refused when it is a link or someone
// else's. The sticky bit keeps the runtime directory's periodic clean-up away.
std::optional<LinkRegistry> SessionRegistry(bool create) {
  std::string dir;
  std::string runtime = Getenv("XDG_RUNTIME_DIR");
  if (!runtime.empty() && runtime[0] == '/') {
    dir = runtime + "/vrkfont-fonts";
  } else {
    std::string temp = Getenv("TMPDIR");
    if (temp.empty() || temp[0] != '/') temp = "/tmp";
    dir = temp + "/vrkfont-fonts-" + std::to_string(::geteuid());
  }
  if (create && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::runtime_error("cannot create " + dir);
  }
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) {
    if (errno == ENOENT && !create) return std::nullopt;
    throw std::runtime_error("cannot read " + dir);
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    throw std::runtime_error("refusing the session font folder " + dir);
  }
  if (create && (st.st_mode & 07777) != (S_ISVTX | S_IRWXU) &&
      ::chmod(dir.c_str(), S_ISVTX | S_IRWXU) != 0) {
    throw std::runtime_error("cannot protect " + dir);
  }
  return LinkRegistry(dir);
}

std::optional<LinkRegistry> SessionRegistryForReading() {
  try {
    return SessionRegistry(false);
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

LinkRegistry PersistentRegistry() {
  return LinkRegistry(XdgDir("XDG_DATA_HOME", ".local/share") + "/fonts/vrkfont");
}

}  // namespace vrk::platform
