// SPDX-License-Identifier: MIT
#pragma once

#include "helper/Json.h"

namespace vrk {

class WindowsHelper {
 public:
  // {"choseAppName", "unsupportedAppNames"}: the supported host with the
  // frontmost on-screen window, else the frontmost other application.
  static Json EnumWindows();
  // {"choseAppName"}: "Photoshop" or "Illustrator" when a window of an
  // application whose name contains appName exists, on screen or not.
  static Json EnumWindowsCheckAppNameExist(const char* appName);
  // Whether an application with this desktop-entry ID is installed; false
  // after any failure.
  static bool CheckSoftwareIsInstalled(const char* bundleId) noexcept;
};

}  // namespace vrk
