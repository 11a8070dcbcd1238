#include "platform/StopSignal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrane {

bool InstallStopHandler(void (*handler)(int),
                        std::initializer_list<int> signals, int flags) {
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

} // namespace kestrane
