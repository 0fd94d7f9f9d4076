// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
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

// Failures are answers (no windows, or false from a visit); nothing but
// std::bad_alloc, or what the visitor itself throws, leaves a call.
class WindowList {
 public:
  // Answers whether to go on to the window behind.
  using Visitor = std::function<bool(const WindowInfo&)>;

  virtual ~WindowList() = default;
  // Windows on screen, desktop elements left out, frontmost first.
  virtual std::vector<WindowInfo> OnScreenWindows() = 0;
  // Every window of the user's desktop, on screen or not.
  virtual std::vector<WindowInfo> AllWindows() = 0;

  // The same windows handed over one by one, frontmost first, until the
  // visitor has had enough; the windows behind are then never read. False
  // when the list could not be read in full: the windows already handed over
  // then count for nothing, as if there had been no list at all.
  virtual bool VisitOnScreen(const Visitor& visit) { return Each(OnScreenWindows(), visit); }
  virtual bool VisitAll(const Visitor& visit) { return Each(AllWindows(), visit); }

 private:
  static bool Each(const std::vector<WindowInfo>& windows, const Visitor& visit) {
    for (const WindowInfo& w : windows) {
      if (!visit(w)) break;
    }
    return true;
  }
};

}  // namespace vrk::platform
