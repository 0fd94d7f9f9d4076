// Freedesktop desktop entries, read with bounds: the installed-application
// check and the owner names of native windows both rest on them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vrk::platform::desktop {

// The keys of the main group that the library reads, unescaped.
struct Entry {
  std::string type;
  std::string name;
  std::string startupWmClass;
  std::optional<std::string> tryExec;
  bool hidden = false;
};

// The entry in this file; nothing when the file is not a regular file, too
// large, not UTF-8 text, or not a desktop entry (its first group is not
// "[Desktop Entry]").
std::optional<Entry> ReadEntry(const std::string& path);

// An application entry that is neither deleted (Hidden) nor missing the
// program its TryExec names.
bool MakesInstalled(const Entry& entry);

// The data folders in order of precedence: the user's, then the system's.
std::vector<std::string> DataFolders();

// The file holding the entry with this desktop-file ID under an applications
// folder, if any. Each real folder is entered at most once.
std::optional<std::string> FindEntryFile(const std::string& applications, std::string_view id);

// The file of the entry with this ID that takes precedence over all data
// folders; nothing for an ID that cannot name one.
std::optional<std::string> EntryFileForId(std::string_view id);

// Application names by window class, from every entry in the data folders.
struct NameTable {
  struct Folder {
    std::string path;
    uint64_t dev = 0, ino = 0;
    int64_t mtime = 0;
    bool operator==(const Folder&) const = default;
  };
  std::vector<std::string> data;
  std::vector<Folder> folders;  // every folder the table was read from
  std::map<std::string, std::string, std::less<>> byWmClass;
  std::map<std::string, std::string, std::less<>> byId;

  // Name= of the entry whose StartupWMClass is the class or the instance,
  // else of the entry whose ID is the class or the instance.
  std::optional<std::string> NameFor(std::string_view instance, std::string_view klass) const;
};

// The table for the data folders as they are now: built once, and built anew
// only when one of the folders it was read from has changed.
std::shared_ptr<const NameTable> CurrentNames();

}  // namespace vrk::platform::desktop
