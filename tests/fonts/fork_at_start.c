/* SPDX-License-Identifier: MIT */
/* A fresh process whose first font call is still under way on another thread
 * when it forks, DELAY microseconds after starting it. Exits 0 when the child
 * answered all three font exports, 1 when it hung (10 s) or failed. */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vrkfont/VRKFont.h>

static void* FirstCalls(void* unused) {
  (void)unused;
  char* all = GetAvailableFonts();
  if (all != NULL && *all != '\0') free(all);
  FontIsRegistered(NULL, "VrkTrio-Bold", NULL);
  return NULL;
}

static int AnswersAll(void) {
  char* found = FindFont("VrkTrio-Bold", NULL);
  char* all = GetAvailableFonts();
  int ok = found != NULL && *found != '\0' && all != NULL && *all != '\0' &&
           FontIsRegistered(NULL, "VrkTrio-Bold", NULL);
  if (found != NULL && *found != '\0') free(found);
  if (all != NULL && *all != '\0') free(all);
  return ok;
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  pthread_t busy;
  if (pthread_create(&busy, NULL, FirstCalls, NULL) != 0) return 2;
  /* Spun, not slept: a sleep is far coarser than the window. */
  long delay = atol(argv[1]) * 1000;
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  do {
    clock_gettime(CLOCK_MONOTONIC, &now);
  } while ((now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec) < delay);
  pid_t child = fork();
  if (child == 0) {
    alarm(10);
    _exit(AnswersAll() ? 0 : 1);
  }
  int status = 0;
  int waited = child > 0 && waitpid(child, &status, 0) == child;
  pthread_join(busy, NULL);
  return waited && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
