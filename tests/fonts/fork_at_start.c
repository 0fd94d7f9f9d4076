/* SPDX-License-Identifier: MIT */
/* A fresh process that forks DELAY microseconds into its first font call,
 * made on another thread. Exits 0 when the child answered all three lookups,
 * 1 when it hung (10 s) or failed. */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vrkfont/VRKFont.h>

static int Answers(void) {
  char* found = FindFont("VrkTwin-Regular", NULL);
  char* all = GetAvailableFonts();
  int ok = found != NULL && *found != '\0' && all != NULL && *all != '\0' &&
           FontIsRegistered(NULL, "VrkTwin-Regular", NULL);
  if (found != NULL && *found != '\0') free(found);
  if (all != NULL && *all != '\0') free(all);
  return ok;
}

static void* FirstCall(void* unused) {
  return Answers() ? unused : NULL;
}

int main(int argc, char** argv) {
  pthread_t busy;
  if (argc != 2 || pthread_create(&busy, NULL, FirstCall, NULL) != 0) return 2;
  /* Spun, not slept: a sleep is far coarser than the window. */
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  do {
    clock_gettime(CLOCK_MONOTONIC, &now);
  } while ((now.tv_sec - start.tv_sec) * 1000000000L + now.tv_nsec - start.tv_nsec <
           atol(argv[1]) * 1000);
  pid_t child = fork();
  if (child == 0) {
    alarm(10);
    _exit(Answers() ? 0 : 1);
  }
  int status = 0;
  int waited = child > 0 && waitpid(child, &status, 0) == child;
  pthread_join(busy, NULL);
  return waited && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
