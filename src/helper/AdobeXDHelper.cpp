#include "helper/AdobeXDHelper.h"

#include <string>

#include "extension/NSStringEx.h"
#include "helper/GlobalHelper.h"
#include "platform/Env.h"

namespace vrk {

int AdobeXDHelper::ManagePluginAdobeXDSetFont(const char* fontPostScriptName) {
  try {
    const std::string prefix = GlobalHelper::ChooseByIdentity<std::string>("Muxan", "Kelvra");
    platform::FileSystem& files = platform::Env::Get().Files();
    std::optional<std::string> support = files.UserDataDir();
    if (!support) return 0;
    const std::string plugin = *support + "/Adobe/UXP/Plugins/External/" + prefix + "SetFont";
    if (!files.Exists(plugin) || files.ItemSize(plugin).value_or(0) == 0) return -1;

    // The name lives in the plug-in's storage area, which the plug-in host
    // creates; the library never creates it.
    const std::string fontNameFile = *support + "/Adobe/UXP/PluginsStorage/SPRK/External/" +
                                     prefix + "SetFont/PluginData/" + prefix + "FontName.txt";
    // A name the plug-in never receives is a failed hand-off, not a success.
    return files.WriteFileAtomically(fontNameFile, RequireText(fontPostScriptName, "font name"))
               ? 1
               : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace vrk
