// SPDX-License-Identifier: MIT
#include "helper/AdobeXDHelper.h"

#include <string>

#include "extension/Text.h"
#include "helper/GlobalHelper.h"
#include "platform/Env.h"

namespace vrk {

int AdobeXDHelper::ManagePluginAdobeXDSetFont(const CallerText& fontPostScriptName) {
  try {
    const std::string prefix = GlobalHelper::ChooseByIdentity<std::string>("Muxan", "Kelvra");
    platform::FileSystem& files = platform::Env::Get().Files();
    std::optional<std::string> support = files.UserDataDir();
    if (!support) return 0;
    const std::string plugin = *support + "/Adobe/UXP/Plugins/External/" + prefix + "SetFont";
    if (!files.Exists(plugin) || files.ItemSize(plugin).value_or(0) == 0) return -1;

    // The storage area may only appear once the plug-in has run, which the
    // host script triggers after this hand-off: its missing folders are made
    // here, but nothing outside it.
    const std::string uxp = *support + "/Adobe/UXP";
    const std::string data = uxp + "/PluginsStorage/SPRK/External/" + prefix + "SetFont/PluginData";
    const std::string& fontName = fontPostScriptName.Require("font name");
    // A name the plug-in never receives is a failed hand-off, not a success.
    if (!files.MakeFolders(uxp, data)) return 0;
    return files.WriteFileAtomically(data + "/" + prefix + "FontName.txt", fontName) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace vrk
