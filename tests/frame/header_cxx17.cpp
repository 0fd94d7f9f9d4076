// SPDX-License-Identifier: MIT
#include <cstdlib>
#include <string>

#include "vrkfont/VRKFont.h"

int main() {
  VRKFont font;
  font.setAppName("穆仙");
  SetAppName(font.appName().c_str());
  char* name = GetAppName();
  bool ok = std::string(name) == "穆仙" && !FontIsRegistered(nullptr, nullptr, nullptr);
  std::free(name);
  return ok ? 0 : 1;
}
