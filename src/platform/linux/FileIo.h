// SPDX-License-Identifier: MIT
// Files read safely and written whole, for every Linux backend.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vrk::platform {

// The system sees a path only up to its first NUL: such a path names nothing.
bool UsablePath(const std::string& path);

// The status of what the path names, links followed.
std::optional<struct stat> StatPath(const std::string& path);

// A regular file of at most `limit` bytes; none for anything else. Anything
// but a regular file is never opened (a FIFO or a device would block, never
// end, or act on being opened), and the open itself never waits. Files that
// report no size, as those of /proc do, are read to their end.
std::optional<std::string> ReadRegularFile(const std::string& path, size_t limit);

// Every byte, retrying interrupted writes; false on any failure.
bool WriteAll(int fd, std::string_view bytes);

// A hidden name beside `path` for work in progress: "dir/.name.XXXXXX", a
// template for mkstemp and mkdtemp.
std::string HiddenSibling(const std::string& path);

// Readers see the old file or the new one with `mode`, never half of one,
// and a crash leaves no visible stray. False when it could not be written;
// the old file is then untouched.
bool WriteFileWhole(const std::string& path, std::string_view bytes, mode_t mode = 0644);

}  // namespace vrk::platform
