#include <cstdio>
#include <string>

#include "Commands.h"
#include "Parse.h"
#include "inventory/TaskInventory.h"
#include "platform/Errors.h"
#include "platform/ExitStatus.h"
#include "platform/Files.h"
#include "platform/StopSignal.h"
#include "redownload/RedownloadRun.h"
#include "task/Settings.h"
#include "tile/Placeholder.h"
#include "worker/TileHttp.h"

namespace kestrane::cli {

namespace {

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
  std::string list;
  const auto app = CommandApp(
      "redownload", "Fetches the tiles of a failed-tile list again, each into "
                    "the file its record\nnames. Exit status: 0 all stored, 1 "
                    "some not, 2 the list or a tile\ncannot be read or "
                    "written, 130 interrupted.");
  app->add_option("FILE.ftl", list, "the failed-tile list")->required();
  std::optional<double> maxRate;
  AddMaxRateOption(*app, maxRate);
  if (const std::optional<int> status = ParseCommand(*app, args))
    return *status;
  try {
    HttpGlobalInit();
    RedownloadOptions options;
    options.MaxRate = maxRate
                          ? *maxRate
                          : ReadSettings(SettingsPath(ProgramFolder())).MaxRate;
    // A second stop signal ends the process.
    const StopFlag &stop = StopOnSignals(SA_RESETHAND);
    const RedownloadResult result =
        RedownloadRun(options).Run(list, PrintLine, &stop);
    if (result.StoppedByRequest)
      return kExitStopped;
    // What the records' tile files hold now, whoever stored them: a record
    // counts when its file is a tile and not the placeholder.
    const std::string blank = PlaceholderBytes(ProgramFolder());
    int64_t records = 0, stored = 0;
    // A refused record counts as not stored, whatever its path holds.
    const ListTileRule rule(list);
    for (const std::string &line : ReadLines(list)) {
      ++records;
      const std::optional<std::string> path =
          rule.Take(SplitFailedTileLine(line).Path);
      if (path && TileFileIsStored(*path, blank))
        ++stored;
    }
    std::printf("Stored now: %lld of %lld records\n",
                static_cast<long long>(stored),
                static_cast<long long>(records));
    std::fflush(stdout);
    return stored == records ? kExitDone : kExitIncomplete;
  } catch (const KError &e) {
    return Fail(e);
  }
}

} // namespace kestrane::cli
