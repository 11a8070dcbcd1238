#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "cli/Parse.h"
#include "inventory/TaskInventory.h"
#include "platform/Files.h"
#include "task/Settings.h"

namespace kestrane::cli {

namespace {

constexpr int kExitComplete = 0;
constexpr int kExitIncomplete = 1;
constexpr int kExitRefused = 2;
constexpr int kExitStopped = 130;

std::atomic<bool> auditStop{false};

extern "C" void OnAuditStop(int) {
  auditStop.store(true);
}

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

// kestrane-cli audit TASK.ktsk [--decode] [--list FILE]: the state of every
// tile of a task, and the list of the tiles still to fetch.
int RunAudit(const Args &args) {
  const auto app = CommandApp(
      "audit", "Counts the tiles of a task's block that are stored, "
               "placeholders, damaged or\nmissing, and lists every tile not "
               "stored for `kestrane-cli redownload`.\nExit status: 0 every "
               "tile stored, 1 not, 2 input refused, 130 stopped.");
  std::string projectFile, listPath;
  bool decode = false;
  int threads = 0;
  app->add_option("TASK", projectFile, "the project file (.ktsk)")->required();
  app->add_flag("--decode", decode,
                "decode every stored tile (the workers' image check)");
  app->add_option("--list", listPath,
                  "where the list of tiles not stored goes (default: "
                  "TASK's name + _missing.ftl beside it)");
  app->add_option("--threads", threads, "decode threads (default: one a core)")
      ->check(CLI::Range(1, 64));
  if (const std::optional<int> status = ParseCommand(*app, args))
    return *status;
  if (ExtractFilePath(projectFile).empty())
    projectFile = "./" + projectFile;

  TaskEnvironment env;
  env.Hosts = ReadSettings(SettingsPath(ProgramFolder())).Hosts;
  LoadedTask loaded;
  try {
    loaded = LoadTask(projectFile, env);
  } catch (const KError &e) {
    std::fprintf(stderr, "%s\n", e.what());
    return kExitRefused;
  }

  auditStop.store(false);
  struct sigaction sa {};
  sa.sa_handler = OnAuditStop;
  sa.sa_flags = SA_RESETHAND; // a second interrupt ends the process
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  AuditProgress progress;
  InventoryOptions options;
  options.Decode = decode;
  options.Threads = threads;
  options.Cancel = &auditStop;
  options.Progress = [&](int64_t done, int64_t total) {
    progress.Show(done, total);
  };
  TaskInventory inventory;
  try {
    inventory = TakeInventory(*loaded.Task, options);
  } catch (const KError &e) {
    progress.Clear();
    std::fprintf(stderr, "%s\n", e.what());
    return kExitRefused;
  }
  progress.Clear();
  if (inventory.Cancelled)
    return kExitStopped;

  PrintInventorySummary(inventory.Counts);
  if (inventory.Counts.Complete())
    return kExitComplete;
  if (listPath.empty())
    listPath = MissingListPath(projectFile);
  try {
    WriteMissingList(*loaded.Task, inventory, listPath);
  } catch (const KError &e) {
    std::fprintf(stderr, "%s\n", e.what());
    return kExitRefused;
  }
  std::printf("Tiles to fetch again: %s\n", listPath.c_str());
  return kExitIncomplete;
}

} // namespace kestrane::cli
