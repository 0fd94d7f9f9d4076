/* SPDX-License-Identifier: MIT */
/* A running program that follows fontconfig's own refresh, and nothing more:
 * it rescans at most once a second and reports whether a family is there.
 * Prints "ready" once its configuration is loaded, then "present" or "absent"
 * each time the answer changes; ends when its standard input closes. */
#include <fontconfig/fontconfig.h>
#include <poll.h>
#include <stdio.h>
#include <unistd.h>

static int Present(const char* family) {
  FcPattern* pattern = FcPatternCreate();
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, NULL);
  int found = 0;
  if (pattern != NULL && objects != NULL &&
      FcPatternAddString(pattern, FC_FAMILY, (const FcChar8*)family)) {
    FcFontSet* fonts = FcFontList(NULL, pattern, objects);
    found = fonts != NULL && fonts->nfont > 0;
    if (fonts != NULL) FcFontSetDestroy(fonts);
  }
  if (objects != NULL) FcObjectSetDestroy(objects);
  if (pattern != NULL) FcPatternDestroy(pattern);
  return found;
}

int main(int argc, char** argv) {
  if (argc != 2 || !FcInit() || !FcConfigSetRescanInterval(NULL, 1)) return 2;
  int last = Present(argv[1]);
  printf("ready\n%s\n", last ? "present" : "absent");
  fflush(stdout);
  for (;;) {
    struct pollfd in = {STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, 100) != 0) break;
    /* A reload brings back the configured interval. */
    FcInitBringUptoDate();
    FcConfigSetRescanInterval(NULL, 1);
    int now = Present(argv[1]);
    if (now != last) {
      printf("%s\n", now ? "present" : "absent");
      fflush(stdout);
      last = now;
    }
  }
  FcFini();
  return 0;
}
