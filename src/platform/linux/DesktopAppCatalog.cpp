// Installed applications are their freedesktop desktop entries. Read directly
// rather than through GIO: the answer needs only the XDG folders, the
// desktop-file-ID rule and one key, and GIO would pull GLib's main-loop
// machinery and its own caches into every process that loads the library.
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/linux/LinuxPlatform.h"

namespace vrk::platform {

namespace {

namespace fs = std::filesystem;

// Relative paths in the XDG variables are invalid and ignored.
std::vector<fs::path> DataFolders() {
  std::vector<fs::path> folders;
  const char* home = std::getenv("XDG_DATA_HOME");
  if (home != nullptr && home[0] == '/') {
    folders.emplace_back(home);
  } else if (const char* user = std::getenv("HOME"); user != nullptr && user[0] == '/') {
    folders.push_back(fs::path(user) / ".local/share");
  }
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  std::string_view list =
      dirs != nullptr && dirs[0] != '\0' ? dirs : "/usr/local/share/:/usr/share/";
  while (!list.empty()) {
    size_t colon = list.find(':');
    std::string_view dir = list.substr(0, colon);
    if (!dir.empty() && dir.front() == '/') folders.emplace_back(dir);
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
  }
  return folders;
}

bool IsFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

bool IsFolder(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

// The entry whose desktop-file ID is `rest` under `folder`: each "-" of an ID
// may stand for a subfolder's "/", so only folders that exist are followed.
std::optional<fs::path> FindEntry(const fs::path& folder, std::string_view rest) {
  fs::path plain = folder / (std::string(rest) + ".desktop");
  if (IsFile(plain)) return plain;
  for (size_t dash = rest.find('-'); dash != std::string_view::npos;
       dash = rest.find('-', dash + 1)) {
    std::string_view sub = rest.substr(0, dash);
    if (sub.empty() || sub == "." || sub == "..") continue;
    fs::path subfolder = folder / std::string(sub);
    if (!IsFolder(subfolder)) continue;
    if (auto found = FindEntry(subfolder, rest.substr(dash + 1))) return found;
  }
  return std::nullopt;
}

std::string_view Trim(std::string_view s) {
  size_t begin = s.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  return s.substr(begin, s.find_last_not_of(" \t\r") - begin + 1);
}

// Hidden=true in the main group means the entry was deleted at this level.
bool IsHidden(const fs::path& entry) {
  std::ifstream in(entry);
  std::string line;
  bool inMainGroup = false;
  while (std::getline(in, line)) {
    std::string_view text = Trim(line);
    if (text.empty() || text.front() == '#') continue;
    if (text.front() == '[') {
      inMainGroup = text == "[Desktop Entry]";
      continue;
    }
    size_t eq = text.find('=');
    if (!inMainGroup || eq == std::string_view::npos) continue;
    if (Trim(text.substr(0, eq)) == "Hidden") return Trim(text.substr(eq + 1)) == "true";
  }
  return false;
}

class DesktopAppCatalog final : public AppCatalog {
 public:
  std::vector<std::string> ApplicationsForId(const std::string& id) override {
    // IDs never hold "/": anything else could climb out of the folders. No
    // entry lies deeper than PATH_MAX, and every "-" of a longer ID would be
    // tried as a folder, at a cost that grows with the square of its length.
    if (id.empty() || id.size() > PATH_MAX || id.find('/') != std::string::npos ||
        id.find('\0') != std::string::npos) {
      return {};
    }
    // The first entry with the ID hides the rest, a Hidden one included.
    for (const fs::path& data : DataFolders()) {
      std::optional<fs::path> entry = FindEntry(data / "applications", id);
      if (!entry) continue;
      if (IsHidden(*entry)) return {};
      return {entry->string()};
    }
    return {};
  }
};

}  // namespace

std::unique_ptr<AppCatalog> NewDesktopAppCatalog() {
  return std::make_unique<DesktopAppCatalog>();
}

}  // namespace vrk::platform
