/* SPDX-License-Identifier: MIT */
/* A running program that follows fontconfig's own refresh and nothing more:
 * it rescans at most once a second and prints "present" or "absent" for a
 * family at the start and whenever the answer changes, until killed. */
#include <fontconfig/fontconfig.h>
#include <stdio.h>
#include <unistd.h>

static int Present(const char* family) {
  FcPattern* pattern = FcPatternCreate();
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, NULL);
  FcPatternAddString(pattern, FC_FAMILY, (const FcChar8*)family);
  FcFontSet* fonts = FcFontList(NULL, pattern, objects);
  int found = fonts != NULL && fonts->nfont > 0;
  if (fonts != NULL) FcFontSetDestroy(fonts);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  return found;
}

int main(int argc, char** argv) {
  if (argc != 2 || !FcInit()) return 2;
  for (int last = -1;; usleep(100000)) {
    /* A reload brings back the configured interval. */
    FcInitBringUptoDate();
    FcConfigSetRescanInterval(NULL, 1);
    int now = Present(argv[1]);
    if (now != last) printf("%s\n", now ? "present" : "absent");
    fflush(stdout);
    last = now;
  }
}
