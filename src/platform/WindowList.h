#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vrk::platform {

struct WindowInfo {
  // Name of the owning application; nothing when it cannot be told.
  std::optional<std::string> ownerName;
  // Whether the window belongs to the calling process itself.
  bool caller = false;
};

class WindowList {
 public:
  virtual ~WindowList() = default;
  // Windows on screen, desktop elements left out, frontmost first.
  virtual std::vector<WindowInfo> OnScreenWindows() = 0;
  // Every window of the user's desktop, on screen or not.
  virtual std::vector<WindowInfo> AllWindows() = 0;
};

}  // namespace vrk::platform
