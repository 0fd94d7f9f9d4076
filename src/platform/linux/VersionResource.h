// SPDX-License-Identifier: MIT
// The names a Windows program file gives itself in its version resource.
// Reads the headers, the resource directory and the version resource only,
// each bounded by the file, so any file can be handed to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vrk::platform::pe {

struct VersionNames {
  std::optional<std::string> productName;
  std::optional<std::string> fileDescription;
};

// Fills `out` with `size` bytes from `offset` of the file; false when any of
// them lies past its end or cannot be read.
using ReadAt = std::function<bool(uint64_t offset, void* out, size_t size)>;

// The names, as UTF-8; nothing when the file is no PE image or has no
// version resource with either name.
std::optional<VersionNames> ReadVersionNames(const ReadAt& read);

// Same, for a file in memory.
std::optional<VersionNames> ReadVersionNames(std::string_view bytes);

// Same, for a regular file on disk (opened without blocking).
std::optional<VersionNames> ReadVersionNamesOfFile(const std::string& path);

}  // namespace vrk::platform::pe
