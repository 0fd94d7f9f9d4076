// SPDX-License-Identifier: MIT
// Owner names of windows: what a user would call the application behind a
// window, rather than the raw class it sets. Native applications are named
// by their desktop entry, Windows programs under Wine by their version
// resource.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/DesktopNameTable.h"

namespace vrk::platform {

// One per walk over the window list: the desktop-entry table is looked at
// once, and each process is asked once however many windows it has.
class OwnerNamer {
 public:
  // `procRoot` stands for /proc, so that tests can supply their own processes.
  explicit OwnerNamer(std::string procRoot = "/proc");

  // From WM_CLASS alone: the desktop entry's Name, else the class, else the
  // instance; nothing when both are empty.
  std::optional<std::string> FromClass(std::string_view instance, std::string_view klass);

  // Wine names a window's class after the program file, which says little;
  // such windows are named by their process instead.
  static bool WantsProcess(std::string_view klass);

  // The name of the Windows program that this local process runs under Wine:
  // its product name, else its file description, else its file name without
  // extension. Nothing when the process runs no Windows program.
  std::optional<std::string> FromProcess(uint32_t pid);

 private:
  static std::optional<std::string> NameOfProcess(const std::string& dir);

  std::string procRoot_;
  std::shared_ptr<const desktop::NameTable> table_;
  std::map<uint32_t, std::optional<std::string>> byProcess_;
};

}  // namespace vrk::platform
