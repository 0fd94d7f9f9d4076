// SPDX-License-Identifier: MIT
#include "platform/linux/SessionAnnouncement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "extension/Text.h"
#include "platform/linux/FileIo.h"
#include "platform/linux/Fontconfig.h"
#include "platform/linux/UserFolders.h"

namespace vrk::platform {

namespace {

// The file is a few lines; anything larger is not ours and is replaced.
constexpr size_t kMaxConfBytes = 64 * 1024;

constexpr char kLinkName[] = "vrkfont-session";

std::string ConfFile() {
  return XdgDir("XDG_CONFIG_HOME", ".config") + "/fontconfig/conf.d/50-vrkfont-session-fonts.conf";
}

std::string FontsFolder() {
  return XdgDir("XDG_DATA_HOME", ".local/share") + "/fonts";
}

// XML has no way to write a control character or a byte that is not UTF-8;
// one in the file makes fontconfig drop the whole file with an error.
bool FitsInXml(const std::string& text) {
  if (!IsValidUtf8(text)) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f) return false;
    // U+FFFE and U+FFFF are not XML characters either.
    if (c == 0xef && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xbf &&
        (static_cast<unsigned char>(text[i + 2]) & 0xfe) == 0xbe) {
      return false;
    }
  }
  return true;
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A glob of fontconfig's matches '*' and '?' anywhere; a path holding one
// could reject the user's other fonts.
bool FitsInGlob(const std::string& text) {
  return FitsInXml(text) && text.find_first_of("*?[]\\") == std::string::npos;
}

// A folder fontconfig may read fonts from: the user's own and closed to
// others; or missing where only the user could make it.
bool SafeFolder(const std::string& dir) {
  struct stat st;
  if (::lstat(dir.c_str(), &st) == 0) {
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
  }
  std::string parent = dir.substr(0, dir.find_last_of('/'));
  return errno == ENOENT && !parent.empty() && ::stat(parent.c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

// Asks a configuration loaded afresh, as any other client of the user would
// load it, whether the folder is among its font folders.
bool FontconfigSees(const LinkRegistry& folder) {
  struct stat wanted;
  if (::fstat(folder.fd(), &wanted) != 0) return false;
  // Loading a configuration touches fontconfig's process-wide state, which is
  // not safe against another load running at once.
  std::lock_guard<std::mutex> lock(Fontconfig::Mutex());
  ConfigPtr config(FcInitLoadConfig());
  if (!config) return false;
  FcStrList* dirs = FcConfigGetFontDirs(config.get());
  bool seen = false;
  for (FcChar8* dir; !seen && dirs != nullptr && (dir = FcStrListNext(dirs)) != nullptr;) {
    struct stat st;
    seen = ::stat(reinterpret_cast<const char*>(dir), &st) == 0 && st.st_dev == wanted.st_dev &&
           st.st_ino == wanted.st_ino;
  }
  if (dirs != nullptr) FcStrListDone(dirs);
  return seen;
}

}  // namespace

std::string SessionLinkPath() {
  return FontsFolder() + "/" + kLinkName;
}

bool AnnounceSessionFolder(const LinkRegistry& folder) {
  if (!FitsInXml(folder.dir())) return false;
  std::string path = ConfFile();
  std::string content =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
      "<!-- Fonts activated for this login session through libVRKFont. -->\n"
      "<fontconfig>\n"
      "  <dir>" +
      XmlEscape(folder.dir()) + "</dir>\n";
  std::string link = SessionLinkPath();
  if (FitsInGlob(link)) {
    content += "  <selectfont><rejectfont><glob>" + XmlEscape(link) +
               "/*</glob></rejectfont></selectfont>\n";
  }
  content += "</fontconfig>\n";
  if (ReadRegularFile(path, kMaxConfBytes) != content) {
    MakeFolders(path.substr(0, path.find_last_of('/')), 0700);
    if (!WriteFileWhole(path, content)) throw std::runtime_error("cannot write " + path);
  }
  return FontconfigSees(folder);
}

Fd LinkSessionFolder(const LinkRegistry& folder) {
  try {
    std::string fonts = FontsFolder();
    if (!FitsInGlob(fonts + "/" + kLinkName)) return Fd();
    MakeFolders(fonts, 0700);
    Fd fd(::open(fonts.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
      return Fd();
    }
    if (LinkTarget(fd.get(), kLinkName) == folder.dir()) return Fd();
    // Only a link of ours is replaced, never a folder of the user's.
    if (::fstatat(fd.get(), kLinkName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        (!S_ISLNK(st.st_mode) || ::unlinkat(fd.get(), kLinkName, 0) != 0)) {
      return Fd();
    }
    if (::symlinkat(folder.dir().c_str(), fd.get(), kLinkName) != 0) return Fd();
    return fd;
  } catch (const std::runtime_error&) {
    return Fd();
  }
}

void WithdrawUnsafeAnnouncement() {
  // The link first: it stays when the file is gone.
  Fd fonts(::open(FontsFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fonts) {
    auto target = LinkTarget(fonts.get(), kLinkName);
    if (target && !SafeFolder(*target)) ::unlinkat(fonts.get(), kLinkName, 0);
  }
  std::string path = ConfFile();
  auto content = ReadRegularFile(path, kMaxConfBytes);
  if (!content) {
    // A FIFO or device under our name would hold up every fontconfig client.
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
      ::unlink(path.c_str());
    }
    return;
  }
  auto open = content->find("<dir>");
  auto close = content->find("</dir>");
  if (open == std::string::npos || close == std::string::npos || close < open) return;
  std::string dir;
  for (size_t i = open + 5; i < close; ++i) {
    static const std::pair<const char*, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    char c = (*content)[i];
    for (const auto& [entity, ch] : kEntities) {
      if (content->compare(i, std::strlen(entity), entity) == 0) {
        c = ch;
        i += std::strlen(entity) - 1;
        break;
      }
    }
    dir += c;
  }
  if (!SafeFolder(dir)) ::unlink(path.c_str());
}

void WithdrawSessionFolder() {
  std::string path = ConfFile();
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) ::unlink(path.c_str());
  Fd fonts(::open(FontsFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fonts && ::fstatat(fonts.get(), kLinkName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode)) {
    ::unlinkat(fonts.get(), kLinkName, 0);
  }
}

}  // namespace vrk::platform
