#pragma once
// The stop signals of the command-line programs (kestrane-cli, tilejoin):
// SIGINT, SIGTERM and SIGHUP ask a run to end as Ctrl-C does.
#include <csignal>
#include <initializer_list>

namespace kestrane {

// Installs `handler` for each of `signals` with `flags` (SA_RESETHAND: a
// second signal ends the process). A signal whose handler cannot be
// installed is named on stderr ("Cannot catch signal 15: ..."); the run
// goes on, and that signal then ends the process as it would have.
// False when any installation failed.
bool InstallStopHandler(void (*handler)(int),
                        std::initializer_list<int> signals, int flags = 0);

} // namespace kestrane
