// SPDX-License-Identifier: MIT
#include "platform/linux/LinuxPlatform.h"

namespace vrk::platform {

namespace {

// Each part is built on first use, so a caller that only lists fonts never
// opens an X connection, and the reverse.
class LinuxEnv final : public Env {
 public:
  FileSystem& Files() override {
    static FileSystem* part = NewLinuxFileSystem().release();
    return *part;
  }
  WindowList& Windows() override {
    static WindowList* part = NewX11WindowList().release();
    return *part;
  }
  AppCatalog& Apps() override {
    static AppCatalog* part = NewDesktopAppCatalog().release();
    return *part;
  }
  ScriptRunner& Scripts() override {
    static ScriptRunner* part = NewLuaScriptRunner().release();
    return *part;
  }
  FontManager& Fonts() override {
    static FontManager* part = NewFontconfigFontManager().release();
    return *part;
  }
};

}  // namespace

Env& Env::Default() {
  // Never destroyed: exports may still run while the process exits.
  static Env* env = new LinuxEnv();
  return *env;
}

}  // namespace vrk::platform
