// SPDX-License-Identifier: MIT
// The Linux parts behind the platform seam, one factory each.
#pragma once

#include <memory>

#include "platform/Env.h"

namespace vrk::platform {

std::unique_ptr<FileSystem> NewLinuxFileSystem();
std::unique_ptr<WindowList> NewX11WindowList();
std::unique_ptr<AppCatalog> NewDesktopAppCatalog();
std::unique_ptr<ScriptRunner> NewLuaScriptRunner();
std::unique_ptr<FontManager> NewFontconfigFontManager();

}  // namespace vrk::platform
