#include "platform/StopSignal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrane {

namespace {

// The one request the stop signals set; constant-initialised, so it is in
// place before any handler can run.
constinit StopFlag signalStop;

extern "C" void OnStopSignal(int) {
  signalStop.Request();
}

} // namespace

StopFlag &StopOnSignals(int flags) {
  signalStop.Clear();
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sa.sa_flags = flags;
  sigemptyset(&sa.sa_mask);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP})
    if (sigaction(sig, &sa, nullptr) != 0)
      std::fprintf(stderr, "Cannot catch signal %d: %s\n", sig,
                   std::strerror(errno));
  return signalStop;
}

} // namespace kestrane
