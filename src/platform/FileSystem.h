// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vrk::platform {

// Failures are answers (false, nothing); nothing but std::bad_alloc is thrown.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Something (file, folder, link target) exists at the path.
  virtual bool Exists(const std::string& path) = 0;
  // Size the file system reports for the item itself (a folder's own entry, not
  // its contents); nothing when the item is missing.
  virtual std::optional<uint64_t> ItemSize(const std::string& path) = 0;
  // Copies a file or a whole folder tree; when from is a link, what it names.
  // Links inside a copied folder stay links. The copy is built under a
  // temporary name beside `to` and renamed into place once complete, so a
  // failed copy leaves nothing. Creates no missing parent folder and never
  // replaces an existing item. True when the copy was made.
  virtual bool CopyTree(const std::string& from, const std::string& to) = 0;
  // Creates the missing folders of path, private to the user, on the way down
  // from base, an existing folder that path lies below; nothing outside base.
  // True when path is a folder afterwards.
  virtual bool MakeFolders(const std::string& base, const std::string& path) = 0;
  // Replaces the file with exactly these bytes through a temporary file in the
  // same folder and a rename: readers see the old or the new content, never a
  // mixture, and a symbolic link at the path is replaced, not followed. Creates
  // no folder. True when the new content is in place.
  virtual bool WriteFileAtomically(const std::string& path, const std::string& bytes) = 0;
  // The per-user application data folder ($XDG_DATA_HOME, else ~/.local/share);
  // nothing when it cannot be found.
  virtual std::optional<std::string> UserDataDir() = 0;
};

}  // namespace vrk::platform
