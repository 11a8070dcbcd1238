#pragma once
// The command line's stop signals: SIGINT, SIGTERM and SIGHUP ask a run to
// end as Ctrl-C does. Header only, so that the joiner's command line, which
// is a program of its own, shares it.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace kestrane::cli {

// Installs `handler` for each of `signals` with `flags` (SA_RESETHAND: a
// second signal ends the process). A signal whose handler cannot be
// installed is named on stderr ("Cannot catch signal 15: ..."); the run
// goes on, and that signal then ends the process as it would have.
// False when any installation failed.
inline bool InstallStopHandler(void (*handler)(int),
                               std::initializer_list<int> signals,
                               int flags = 0) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sa.sa_flags = flags;
  sigemptyset(&sa.sa_mask);
  bool all = true;
  for (const int sig : signals) {
    if (sigaction(sig, &sa, nullptr) != 0) {
      std::fprintf(stderr, "Cannot catch signal %d: %s\n", sig,
                   std::strerror(errno));
      all = false;
    }
  }
  return all;
}

} // namespace kestrane::cli
