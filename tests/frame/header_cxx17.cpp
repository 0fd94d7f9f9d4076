// SPDX-License-Identifier: MIT
#include "vrkfont/VRKFont.h"

int main() {
  VRKFont font;
  font.setAppName("穆仙");
  return font.appName() == "穆仙" && !FontIsRegistered(nullptr, nullptr, nullptr) ? 0 : 1;
}
