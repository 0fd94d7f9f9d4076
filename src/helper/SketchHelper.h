// SPDX-License-Identifier: MIT
#pragma once

#include "extension/Text.h"

namespace vrk {

class SketchHelper {
 public:
  // Installs the companion plug-in from the caller's copy when missing and hands
  // it the font name. False on any failure.
  static bool ManagePluginSketch(const CallerText& sketchPluginPath,
                                 const CallerText& fontPostScriptName);
};

}  // namespace vrk
