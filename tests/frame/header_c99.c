/* SPDX-License-Identifier: MIT */
#include "vrkfont/VRKFont.h"

int main(void) {
  return FontIsRegistered(0, 0, 0);
}
