/* Preloaded into kestrane-cli by records_behind_positions.sh: ends the
 * process with SIGKILL right after the Nth file of the task's own (project
 * file, failed-tile list, log) has been replaced, N from KILL_AT_SAVE. With
 * KILL_AT_SAVE_PAUSE_MS, each replacement of the failed-tile list or the log
 * waits that long first, which widens the moment between the saves of the
 * panes and the positions, where a crash does the most harm. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static atomic_int saves;

static int EndsWith(const char *s, const char *suffix) {
  size_t n = strlen(s), m = strlen(suffix);
  return n >= m && strcmp(s + n - m, suffix) == 0;
}

static void Count(const char *target) {
  if (!EndsWith(target, ".ktsk") && !EndsWith(target, "_failed.ftl") &&
      !EndsWith(target, "_log.txt"))
    return;
  const char *at = getenv("KILL_AT_SAVE");
  if (at == NULL || atoi(at) != atomic_fetch_add(&saves, 1) + 1)
    return;
  const char *note = getenv("KILL_AT_SAVE_NOTE");
  if (note != NULL) {
    FILE *f = fopen(note, "w");
    if (f != NULL) {
      fprintf(f, "%s\n", target);
      fclose(f);
    }
  }
  raise(SIGKILL);
}

static void Pause(const char *target) {
  const char *ms = getenv("KILL_AT_SAVE_PAUSE_MS");
  if (ms == NULL ||
      (!EndsWith(target, "_failed.ftl") && !EndsWith(target, "_log.txt")))
    return;
  struct timespec t = {atoi(ms) / 1000, (long)(atoi(ms) % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

int rename(const char *from, const char *to) {
  static int (*real)(const char *, const char *);
  Pause(to);
  if (real == NULL)
    real = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
  int rc = real(from, to);
  if (rc == 0)
    Count(to);
  return rc;
}

int renameat(int fromDir, const char *from, int toDir, const char *to) {
  static int (*real)(int, const char *, int, const char *);
  Pause(to);
  if (real == NULL)
    real = (int (*)(int, const char *, int, const char *))dlsym(RTLD_NEXT,
                                                                "renameat");
  int rc = real(fromDir, from, toDir, to);
  if (rc == 0)
    Count(to);
  return rc;
}

int renameat2(int fromDir, const char *from, int toDir, const char *to,
              unsigned int flags) {
  static int (*real)(int, const char *, int, const char *, unsigned int);
  Pause(to);
  if (real == NULL)
    real = (int (*)(int, const char *, int, const char *, unsigned int))dlsym(
        RTLD_NEXT, "renameat2");
  int rc = real(fromDir, from, toDir, to, flags);
  if (rc == 0)
    Count(to);
  return rc;
}
