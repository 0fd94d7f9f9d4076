// SPDX-License-Identifier: MIT
// Freedesktop desktop entries, read with bounds, and found by their ID: the
// installed-application check and the owner names of native windows both
// rest on them.
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

// A real folder, by device and inode: walks enter each one once, so folder
// links that loop cannot multiply the work.
using FolderId = std::pair<uint64_t, uint64_t>;

// The data folders in order of precedence: the user's, then the system's.
std::vector<std::string> DataFolders();

// The file holding the entry with this desktop-file ID under an applications
// folder, if any. Each real folder is entered at most once.
std::optional<std::string> FindEntryFile(const std::string& applications, std::string_view id);

// The file of the entry with this ID that takes precedence over all data
// folders; nothing for an ID that cannot name one.
std::optional<std::string> EntryFileForId(std::string_view id);

}  // namespace vrk::platform::desktop
