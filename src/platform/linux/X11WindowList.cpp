#include "platform/linux/LinuxPlatform.h"

namespace vrk::platform {

namespace {

// Placeholder until the X11 window list lands: no windows.
class X11WindowList final : public WindowList {
 public:
  std::vector<WindowInfo> OnScreenWindows() override { return {}; }
  std::vector<WindowInfo> AllWindows() override { return {}; }
};

}  // namespace

std::unique_ptr<WindowList> NewX11WindowList() {
  return std::make_unique<X11WindowList>();
}

}  // namespace vrk::platform
