// SPDX-License-Identifier: MIT
#pragma once

#include "extension/Text.h"
#include "helper/Json.h"

namespace vrk {

class WindowsHelper {
 public:
  // {"choseAppName", "unsupportedAppNames"}: the supported host with the
  // frontmost on-screen window, else the frontmost other application.
  static Json EnumWindows();
  // {"choseAppName"}: "Photoshop" or "Illustrator" when a window of an
  // application whose name contains appName exists, on screen or not.
  static Json EnumWindowsCheckAppNameExist(const CallerText& appName);
  // Whether an application with this desktop-entry ID is installed; throws
  // what the catalog throws.
  static bool CheckSoftwareIsInstalled(const CallerText& bundleId);
};

}  // namespace vrk
