#include "platform/linux/LinuxPlatform.h"

namespace vrk::platform {

namespace {

// Placeholder until desktop entries are read: nothing installed.
class DesktopAppCatalog final : public AppCatalog {
 public:
  std::vector<std::string> ApplicationsForId(const std::string&) override { return {}; }
};

}  // namespace

std::unique_ptr<AppCatalog> NewDesktopAppCatalog() {
  return std::make_unique<DesktopAppCatalog>();
}

}  // namespace vrk::platform
