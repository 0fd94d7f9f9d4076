// SPDX-License-Identifier: MIT
// Who owns a window, as its properties and its process tell.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/WindowOwners.h"
#include "platform/linux/X11Replies.h"

namespace vrk::platform::x11 {

// Room for any real name; a longer WM_CLASS is taken for none, since a name
// cut short could match the wrong host.
constexpr uint32_t kMaxTextWords = 32 * 1024 / 4;

// A window that made it into the list; client None once it has vanished.
struct Owned {
  xcb_window_t client;
  std::optional<std::string> owner;
  bool byProcess = false;
  std::optional<uint32_t> pid;  // as the window says; maybe another machine's
  bool caller = false;
};

class OwnerReader {
 public:
  explicit OwnerReader(Exchange& exchange) : exchange_(exchange) {}

  // From the window's WM_CLASS and _NET_WM_PID.
  Owned Named(xcb_window_t client, const Property& wmClass, const Property& pid);
  // Windows without WM_CLASS, and Windows programs, are named after their
  // process, and the caller's own windows are told by it. A process number
  // only counts once the window's machine is known to be this one, asked in
  // one more batch for just those windows.
  void NameByProcess(std::vector<Owned>& kept);

 private:
  bool IsLocal(const Property& machine);
  const std::string& LocalHost();

  Exchange& exchange_;
  std::optional<std::string> hostName_;
  OwnerNamer namer_;
};

}  // namespace vrk::platform::x11
