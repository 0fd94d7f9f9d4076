/* SPDX-License-Identifier: MIT */
/* font_calls: the per-call cost of the font exports inside one process,
 * through the public header and the shared library, the way the application
 * calls them.
 *
 *   font_calls FILE POSTSCRIPT_NAME FAMILY
 *
 * FILE is registered for the session first and unregistered at the end; the
 * names are those of an installed face. Prints one line per call: the median
 * time of repeated calls in milliseconds with nothing changing between them.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include "vrkfont/VRKFont.h"

static double NowMs(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

static int Ascending(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

/* Heap copies are the caller's; the shared empty string is not. */
static void Release(char* text) {
  if (text[0] != '\0') free(text);
}

enum Call { kByPath, kByName, kByFamily, kFindByName, kFindByFamily, kInventory };

static const char* g_file;
static const char* g_name;
static const char* g_family;

static int Once(enum Call call) {
  switch (call) {
    case kByPath:
      return FontIsRegistered(g_file, NULL, NULL);
    case kByName:
      return FontIsRegistered(NULL, g_name, NULL);
    case kByFamily:
      return FontIsRegistered(NULL, "NoSuchFont-Regular", g_family);
    case kFindByName:
    case kFindByFamily: {
      char* pair = call == kFindByName ? FindFont(g_name, NULL) : FindFont(NULL, g_family);
      int found = strstr(pair, g_file) != NULL || strncmp(pair, "(null)", 6) != 0;
      Release(pair);
      return found;
    }
    case kInventory: {
      char* list = GetAvailableFonts();
      int found = strstr(list, g_name) != NULL;
      Release(list);
      return found;
    }
  }
  return 0;
}

/* The median of repeated calls: at least 5, at most 2,000, about a second. */
static double Median(enum Call call, int* ok) {
  static double times[2000];
  int n = 0;
  double spent = 0;
  *ok = 1;
  while (n < 5 || (n < 2000 && spent < 1000)) {
    double start = NowMs();
    *ok &= Once(call);
    times[n] = NowMs() - start;
    spent += times[n++];
  }
  qsort(times, (size_t)n, sizeof times[0], Ascending);
  return times[n / 2];
}

static void Row(const char* label, double ms, int ok) {
  printf("  %-44s %10.4f ms%s\n", label, ms, ok ? "" : "   (wrong answer)");
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: font_calls FILE POSTSCRIPT_NAME FAMILY\n");
    return 2;
  }
  g_file = argv[1];
  g_name = argv[2];
  g_family = argv[3];
  size_t size = strlen(g_file) + 5;
  char* list = malloc(size);
  if (list == NULL) return 1;
  snprintf(list, size, "[\"%s\"]", g_file);
  char* flags = RegisterFont(list);
  int registered = strcmp(flags, "1") == 0;
  Release(flags);
  if (!registered) {
    fprintf(stderr, "font_calls: %s was not registered\n", g_file);
    free(list);
    return 1;
  }

  double start = NowMs();
  int ok = Once(kInventory);
  Row("GetAvailableFonts, first call", NowMs() - start, ok);
  const struct {
    enum Call call;
    const char* label;
  } rows[] = {
      {kInventory, "GetAvailableFonts again, nothing changed"},
      {kByPath, "FontIsRegistered(path, NULL, NULL)"},
      {kByName, "FontIsRegistered(NULL, postscriptName, NULL)"},
      {kByFamily, "FontIsRegistered(NULL, unknown, family)"},
      {kFindByName, "FindFont(postscriptName, NULL)"},
      {kFindByFamily, "FindFont(NULL, family)"},
  };
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    double ms = Median(rows[i].call, &ok);
    Row(rows[i].label, ms, ok);
  }
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  printf("  %-44s %10ld KiB\n", "peak memory of this process", usage.ru_maxrss);

  flags = UnRegisterFont(list);
  Release(flags);
  free(list);
  return 0;
}
