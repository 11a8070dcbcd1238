#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "Commands.h"
#include "Parse.h"
#include "inventory/ProjectFile.h"
#include "inventory/TaskInventory.h"
#include "platform/ExitStatus.h"
#include "platform/Files.h"
#include "platform/StopSignal.h"
#include "task/Settings.h"

namespace kestrane::cli {

namespace {

// The progress line on stderr, shown once the audit has taken a second:
// redrawn in place on a terminal, one line a second elsewhere.
class AuditProgress {
public:
  using Clock = std::chrono::steady_clock;

  void Show(int64_t done, int64_t total) {
    const Clock::time_point now = Clock::now();
    if (now - started_ < std::chrono::seconds(1) ||
        now - shownAt_ < (terminal_ ? std::chrono::milliseconds(200)
                                    : std::chrono::milliseconds(1000)))
      return;
    shownAt_ = now;
    std::fprintf(stderr,
                 terminal_ ? "\rAudit: %lld of %lld tiles\033[K"
                           : "Audit: %lld of %lld tiles\n",
                 static_cast<long long>(done), static_cast<long long>(total));
    std::fflush(stderr);
    shown_ = true;
  }

  void Clear() {
    if (shown_ && terminal_)
      std::fputs("\r\033[K", stderr);
    shown_ = false;
  }

private:
  const bool terminal_ = isatty(STDERR_FILENO) == 1;
  const Clock::time_point started_ = Clock::now();
  Clock::time_point shownAt_{};
  bool shown_ = false;
};

} // namespace

void PrintInventorySummary(const InventoryCounts &counts) {
  for (const std::string &line : InventorySummaryLines(counts))
    std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

namespace {

// The options of `audit`.
struct AuditOptions {
  std::string ProjectFile, ListPath;
  bool Decode = false;
  int Threads = 0;
};

// The audit's walk of the task's tiles, stopped by the stop signals.
struct AuditWalk {
  AuditWalk(const LoadedTask &loaded, const AuditOptions &opts,
            const StopFlag &stop)
      : walk(loaded.Task, Options(opts, stop)) {}
  AuditProgress progress;
  InventoryWalk walk;

private:
  InventoryOptions Options(const AuditOptions &opts, const StopFlag &stop) {
    InventoryOptions options;
    options.Decode = opts.Decode;
    options.Threads = opts.Threads;
    options.Cancel = &stop;
    options.Progress = [this](int64_t done, int64_t total) {
      progress.Show(done, total);
    };
    return options;
  }
};

// Counts the tiles of the loaded task; the exit status when the audit
// cannot go on (refused or stopped), else nullopt.
std::optional<int> CountTiles(AuditWalk &audit) {
  bool whole = false;
  try {
    whole = audit.walk.Run();
  } catch (const KError &e) {
    audit.progress.Clear();
    return Fail(e);
  }
  audit.progress.Clear();
  if (!whole)
    return kExitStopped;
  return std::nullopt;
}

// Prints the counts and, when tiles are missing, writes their list: the
// tiles are walked once more, so that the list of a large block never sits
// in memory.
int ReportAudit(const LoadedTask &loaded, AuditWalk &audit,
                const AuditOptions &opts, const StopFlag &stop) {
  const InventoryCounts &counts = audit.walk.Counts();
  PrintInventorySummary(counts);
  if (counts.Complete())
    return kExitDone;
  try {
    const bool written = WriteMissingList(
        loaded.Task, counts.Total - counts.Stored,
        [&audit](const ProblemVisitor &visit) {
          return audit.walk.Replay(visit);
        },
        opts.ListPath, &stop);
    if (!written)
      return kExitStopped;
  } catch (const KError &e) {
    return Fail(e);
  }
  std::printf("Tiles to fetch again: %s\n", opts.ListPath.c_str());
  return kExitIncomplete;
}

} // namespace

// kestrane-cli audit TASK.ktsk [--decode] [--list FILE]: the state of every
// tile of a task, and the list of the tiles still to fetch.
int RunAudit(const Args &args) {
  const auto app = CommandApp(
      "audit", "Counts the tiles of a task's block that are stored, "
               "placeholders, damaged or\nmissing, and lists every tile not "
               "stored for `kestrane-cli redownload`.\nExit status: 0 every "
               "tile stored, 1 not, 2 input refused, 130 stopped.");
  AuditOptions opts;
  app->add_option("TASK", opts.ProjectFile, "the project file (.ktsk)")
      ->required();
  app->add_flag("--decode", opts.Decode,
                "decode every stored tile (the workers' image check)");
  app->add_option("--list", opts.ListPath,
                  "where the list of tiles not stored goes (default: "
                  "TASK's name + _missing.ftl beside it)");
  app->add_option("--threads", opts.Threads,
                  "decode threads (default: one a core)")
      ->check(CLI::Range(1, 64));
  if (const std::optional<int> status = ParseCommand(*app, args))
    return *status;
  if (ExtractFilePath(opts.ProjectFile).empty())
    opts.ProjectFile = "./" + opts.ProjectFile;

  TaskEnvironment env;
  env.Hosts = ReadSettings(SettingsPath(ProgramFolder())).Hosts;
  std::optional<LoadedTask> loaded;
  try {
    loaded.emplace(LoadTask(opts.ProjectFile, env));
  } catch (const KError &e) {
    return Fail(e);
  }
  if (opts.ListPath.empty())
    opts.ListPath = MissingListPath(opts.ProjectFile);
  try {
    // Refused before the tiles are looked at, and left as it is.
    RefuseAsOutput(loaded->Task, opts.ListPath);
  } catch (const KError &e) {
    return Fail(e);
  }
  // A second stop signal ends the process.
  const StopFlag &stop = StopOnSignals(SA_RESETHAND);
  AuditWalk audit(*loaded, opts, stop);
  if (const std::optional<int> status = CountTiles(audit))
    return *status;
  return ReportAudit(*loaded, audit, opts, stop);
}

} // namespace kestrane::cli
