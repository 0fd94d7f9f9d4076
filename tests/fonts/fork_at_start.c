/* SPDX-License-Identifier: MIT */
/* Forks DELAY microseconds into its first font call, made on another thread;
 * exits 0 when the child answered the lookups, 1 when it failed or hung (10 s). */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vrkfont/VRKFont.h>

static void* Lookups(void* failed) {
  char* found = FindFont("VrkTwin-Regular", NULL);
  char* all = GetAvailableFonts();
  int ok = *found != '\0' && *all != '\0' && FontIsRegistered(NULL, "VrkTwin-Regular", NULL);
  if (*found != '\0') free(found);
  if (*all != '\0') free(all);
  return ok ? NULL : failed;
}

int main(int argc, char** argv) {
  pthread_t busy;
  struct timespec t0, t;
  if (argc != 2 || pthread_create(&busy, NULL, Lookups, NULL) != 0) return 2;
  /* Spun, not slept: a sleep is far coarser than the window. */
  clock_gettime(CLOCK_MONOTONIC, &t0);
  do clock_gettime(CLOCK_MONOTONIC, &t);
  while ((t.tv_sec - t0.tv_sec) * 1000000 + (t.tv_nsec - t0.tv_nsec) / 1000 < atol(argv[1]));
  pid_t child = fork();
  if (child == 0) _exit((alarm(10), Lookups(argv) != NULL));
  int status = 0;
  int waited = child > 0 && waitpid(child, &status, 0) == child;
  pthread_join(busy, NULL);
  return waited && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
