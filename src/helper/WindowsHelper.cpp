#include "helper/WindowsHelper.h"

#include <stdexcept>

namespace vrk {

// Placeholders until host detection lands.
Json WindowsHelper::EnumWindows() {
  return Json::object();
}
Json WindowsHelper::EnumWindowsCheckAppNameExist(const char*) {
  return Json::object();
}
bool WindowsHelper::CheckSoftwareIsInstalled(const char*) {
  return false;
}

}  // namespace vrk
