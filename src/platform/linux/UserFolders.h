// Where the user's folders are, and the file operations the backends share.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace vrk::platform {

std::string Getenv(const char* name);
// $HOME when absolute, else the password entry; throws when neither names one.
std::string HomeDir();
// An XDG base folder: the variable when absolute, else the fallback under home.
std::string XdgDir(const char* variable, const char* fallbackUnderHome);
// The canonical path of an existing file; none for a path with a NUL inside.
std::optional<std::string> Canonical(const std::string& path);
void MakeFolders(const std::string& path, mode_t mode);
std::optional<std::string> ReadFile(const std::string& path);
// Readers see the old or the new file, never half of one. Throws on failure.
void WriteFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace vrk::platform
