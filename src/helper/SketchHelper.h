// SPDX-License-Identifier: MIT
#pragma once

namespace vrk {

class SketchHelper {
 public:
  // Installs the companion plug-in from the caller's copy when missing and hands
  // it the font name. False on any failure.
  static bool ManagePluginSketch(const char* sketchPluginPath, const char* fontPostScriptName);
};

}  // namespace vrk
