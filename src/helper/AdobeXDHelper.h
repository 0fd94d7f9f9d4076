// SPDX-License-Identifier: MIT
#pragma once

#include "extension/Text.h"

namespace vrk {

class AdobeXDHelper {
 public:
  // 1: the font name was handed to the installed plug-in; -1: no plug-in
  // installed; 0: a failure.
  static int ManagePluginAdobeXDSetFont(const CallerText& fontPostScriptName);
};

}  // namespace vrk
