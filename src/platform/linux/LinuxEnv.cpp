// SPDX-License-Identifier: MIT
#include "platform/linux/LinuxPlatform.h"

namespace vrk::platform {

namespace {

// Making a part opens nothing: an X connection or a fontconfig configuration
// comes with the first call that needs it.
class LinuxEnv final : public Env {
 public:
  FileSystem& Files() override { return *files_; }
  WindowList& Windows() override { return *windows_; }
  AppCatalog& Apps() override { return *apps_; }
  ScriptRunner& Scripts() override { return *scripts_; }
  FontManager& Fonts() override { return *fonts_; }

 private:
  std::unique_ptr<FileSystem> files_ = NewLinuxFileSystem();
  std::unique_ptr<WindowList> windows_ = NewX11WindowList();
  std::unique_ptr<AppCatalog> apps_ = NewDesktopAppCatalog();
  std::unique_ptr<ScriptRunner> scripts_ = NewLuaScriptRunner();
  std::unique_ptr<FontManager> fonts_ = NewFontconfigFontManager();
};

}  // namespace

Env& Env::Default() {
  // Never destroyed: exports may still run while the process exits.
  static Env* env = new LinuxEnv();
  return *env;
}

// Made while the library loads: a thread still making it when another forks
// would leave the child waiting for it for good.
[[maybe_unused]] const bool kDefaultEnvReady = (Env::Default(), true);

}  // namespace vrk::platform
