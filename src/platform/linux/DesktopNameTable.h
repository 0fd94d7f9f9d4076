// SPDX-License-Identifier: MIT
// Application names by window class, from every desktop entry in the data
// folders, kept while those folders stay unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vrk::platform::desktop {

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
