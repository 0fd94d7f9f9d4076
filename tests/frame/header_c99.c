/* SPDX-License-Identifier: MIT */
#include <stdlib.h>
#include <string.h>

#include "vrkfont/VRKFont.h"

int main(void) {
  char* one = SetAppName("MuXan");
  char* name = GetAppName();
  int ok = strcmp(one, "1") == 0 && strcmp(name, "MuXan") == 0;
  free(name);
  return ok ? 0 : 1;
}
