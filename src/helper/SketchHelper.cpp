// SPDX-License-Identifier: MIT
#include "helper/SketchHelper.h"

#include <string>

#include "extension/Text.h"
#include "helper/GlobalHelper.h"
#include "platform/Env.h"

namespace vrk {

bool SketchHelper::ManagePluginSketch(const CallerText& sketchPluginPath,
                                      const CallerText& fontPostScriptName) {
  try {
    const std::string prefix = GlobalHelper::ChooseByIdentity<std::string>("Muxan", "Kelvra");
    platform::FileSystem& files = platform::Env::Get().Files();
    std::optional<std::string> support = files.UserDataDir();
    if (!support) return false;
    const std::string bundle =
        *support + "/com.bohemiancoding.sketch3/Plugins/" + prefix + "SetFont.sketchplugin";

    if (!files.Exists(bundle) || files.ItemSize(bundle).value_or(0) == 0) {
      // The caller's copy is read only when one is needed. The copy's own answer
      // says nothing useful when an empty item stands in the way, so what
      // counts is whether something is there afterwards.
      files.CopyTree(sketchPluginPath.Require("plug-in path"), bundle);
      if (!files.Exists(bundle)) return false;
    }

    const std::string fontNameFile = bundle + "/Contents/Sketch/" + prefix + "FontName.txt";
    // A name the plug-in never receives is a failed hand-off, not a success.
    return files.WriteFileAtomically(fontNameFile, fontPostScriptName.Require("font name"));
  } catch (...) {
    return false;
  }
}

}  // namespace vrk
