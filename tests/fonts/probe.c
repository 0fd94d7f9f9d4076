/* SPDX-License-Identifier: MIT */
/* A running program that follows fontconfig's own refresh and nothing more:
 * it prints "present" or "absent" for a family at the start and whenever the
 * answer changes, until it changed twice or stayed for a minute. */
#include <fontconfig/fontconfig.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 2 || !FcInit()) return 2;
  FcPattern* pattern = FcPatternBuild(NULL, FC_FAMILY, FcTypeString, argv[1], (char*)NULL);
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, (char*)NULL);
  for (int last = -1, lines = 0, same = 0; lines < 3 && same < 600; usleep(100000)) {
    FcInitBringUptoDate();
    FcConfigSetRescanInterval(NULL, 1); /* a reload brings back the configured one */
    FcFontSet* fonts = FcFontList(NULL, pattern, objects);
    int now = fonts != NULL && fonts->nfont > 0;
    if (fonts != NULL) FcFontSetDestroy(fonts);
    same = now == last ? same + 1 : 0;
    if (now != last) printf("%s\n", now ? "present" : "absent"), ++lines;
    fflush(stdout);
    last = now;
  }
  return 0;
}
