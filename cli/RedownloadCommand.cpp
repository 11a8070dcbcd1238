#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "inventory/TaskInventory.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "tools/Unitftl.h"
#include "worker/TileHttp.h"

namespace kestrane::cli {

namespace {

std::atomic<bool> gStop{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  gStop.store(true);
}

// A report line as the window shows it: the CR LF inside a socket failure's
// text starts a new line.
void PrintLine(const std::string &line) {
  PrintPaneLine(line);
  std::fflush(stdout);
}

} // namespace

// kestrane-cli redownload FILE.ftl: one re-download run, its report on
// stdout, then how many records' tiles are stored now. Exit 0 when every
// record's tile is stored (or the list is empty), 1 when some are not, 2 when
// the list cannot be read or a tile cannot be written, 130 when interrupted
// (the run then ends after the current record).
int RunRedownload(const Args &args) {
  if (args.size() != 1) {
    std::fputs("usage: kestrane-cli redownload FILE.ftl\n", stderr);
    return 2;
  }
  try {
    HttpGlobalInit();
    gStop.store(false);
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sa.sa_flags = SA_RESETHAND; // a second interrupt ends the process
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    const ReDownloadResult result =
        ReDownloadRun().Run(args[0], PrintLine, &gStop);
    if (result.StoppedByRequest)
      return 130;
    // What the records' tile files hold now, whoever stored them: a record
    // counts when its file is a tile and not the placeholder.
    const std::string blank = BlankImageBytes(ProgramFolder());
    int64_t records = 0, stored = 0;
    for (const std::string &line : ReadLines(args[0])) {
      ++records;
      if (TileFileIsStored(SplitFtlLine(line).Path, blank))
        ++stored;
    }
    std::printf("Stored now: %lld of %lld records\n",
                static_cast<long long>(stored),
                static_cast<long long>(records));
    std::fflush(stdout);
    return stored == records ? 0 : 1;
  } catch (const KError &e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
}

} // namespace kestrane::cli
