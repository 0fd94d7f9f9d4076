#include <stdexcept>

#include "platform/linux/LinuxPlatform.h"

namespace vrk::platform {

namespace {

// Placeholder until the fontconfig font manager lands: every call fails.
class FontconfigFontManager final : public FontManager {
 public:
  uint32_t ScopeForFile(const std::string&) override { Fail(); }
  void RegisterFiles(const std::vector<std::string>&, uint32_t) override { Fail(); }
  void UnregisterFiles(const std::vector<std::string>&, uint32_t) override { Fail(); }
  bool UnregisterFile(const std::string&, uint32_t) override { Fail(); }
  std::vector<std::string> AvailablePostScriptNames() override { Fail(); }
  std::vector<std::string> AvailableFamilyNames() override { Fail(); }
  ResolvedFont Resolve(const std::optional<std::string>&,
                       const std::optional<std::string>&) override {
    Fail();
  }
  std::vector<FontFace> AvailableFaces(const std::string&) override { Fail(); }

 private:
  [[noreturn]] static void Fail() { throw std::runtime_error("font manager not available"); }
};

}  // namespace

std::unique_ptr<FontManager> NewFontconfigFontManager() {
  return std::make_unique<FontconfigFontManager>();
}

}  // namespace vrk::platform
