/* SPDX-License-Identifier: MIT */
#include <stdlib.h>
#include <string.h>
#include <vrkfont/VRKFont.h>

int main(void) {
  SetAppName("consumer");
  char* name = GetAppName();
  int ok = strcmp(name, "consumer") == 0 && strcmp(CheckSoftwareIsInstalled(""), "0") == 0;
  free(name);
  return ok ? 0 : 1;
}
