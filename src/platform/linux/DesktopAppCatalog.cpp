// SPDX-License-Identifier: MIT
// Installed applications are their freedesktop desktop entries. Read directly
// rather than through GIO: the answer needs only the XDG folders, the
// desktop-file-ID rule and a few keys, and GIO would pull GLib's main-loop
// machinery and its own caches into every process that loads the library.
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/DesktopEntries.h"
#include "platform/linux/LinuxPlatform.h"

namespace vrk::platform {

namespace {

class DesktopAppCatalog final : public AppCatalog {
 public:
  // The first entry with the ID decides for all folders, a deleted or broken
  // one included.
  std::vector<std::string> ApplicationsForId(const std::string& id) override {
    std::optional<std::string> file = desktop::EntryFileForId(id);
    if (!file) return {};
    std::optional<desktop::Entry> entry = desktop::ReadEntry(*file);
    if (!entry || !desktop::MakesInstalled(*entry)) return {};
    return {*file};
  }
};

}  // namespace

std::unique_ptr<AppCatalog> NewDesktopAppCatalog() {
  return std::make_unique<DesktopAppCatalog>();
}

}  // namespace vrk::platform
