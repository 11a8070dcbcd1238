// tilejoin: joins a task's tiles into one georeferenced picture. Without
// arguments, or with --window, it opens the Tile Joiner window (on the
// project file given); with a project file it joins headless: progress on
// stderr, the result lines on stdout.
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "joiner/TileJoiner.h"
#include "joinerwindow/RunJoinerWindow.h"
#include "platform/ExitStatus.h"
#include "platform/StopSignal.h"

namespace {

using kestrane::ErrorCause;
using kestrane::ExitStatusFor;

const char *PhaseName(kestrane::JoinPhase phase) {
  switch (phase) {
  case kestrane::JoinPhase::Checking:
    return "Checking tiles";
  case kestrane::JoinPhase::Joining:
    return "Joining";
  case kestrane::JoinPhase::Overviews:
    return "Overviews";
  case kestrane::JoinPhase::Writing:
    return "Writing";
  }
  return "";
}

// One progress line per phase and tenth.
class ProgressLines {
public:
  void operator()(kestrane::JoinPhase phase, int64_t done, int64_t total) {
    const int tenth = total > 0 ? static_cast<int>(done * 10 / total) : 10;
    if (phase == phase_ && tenth == tenth_)
      return;
    phase_ = phase;
    tenth_ = tenth;
    std::fprintf(stderr, "%s: %lld of %lld\n", PhaseName(phase),
                 static_cast<long long>(done), static_cast<long long>(total));
  }

private:
  kestrane::JoinPhase phase_ = kestrane::JoinPhase::Checking;
  int tenth_ = -1;
};

int RunHeadless(const std::string &project, const std::string &output,
                kestrane::JoinOptions options) {
  // As signal() did: calls in progress go on after the handler.
  const kestrane::StopFlag &stop = kestrane::StopOnSignals(SA_RESTART);
  options.Cancel = &stop;
  ProgressLines progress;
  options.Progress = [&progress](kestrane::JoinPhase p, int64_t d, int64_t t) {
    progress(p, d, t);
  };
  try {
    const kestrane::JoinResult result =
        kestrane::JoinTiles(project, output, options);
    for (const std::string &line : result.Lines())
      std::printf("%s\n", line.c_str());
    if (result.Cancelled)
      return kestrane::kExitStopped;
    return result.Complete() ? kestrane::kExitDone : kestrane::kExitIncomplete;
  } catch (const kestrane::KError &e) {
    // Refused input, or a picture that cannot be written: as kestrane-cli.
    std::fprintf(stderr, "%s\n", e.what());
    return ExitStatusFor(e.Cause());
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s\n", e.what());
    return ExitStatusFor(ErrorCause::SystemFailed);
  }
}

} // namespace

int main(int argc, char **argv) {
  std::setlocale(LC_ALL, "");
  // The window: without arguments, or with --window (the main window's
  // Tools menu: --window [--place X,Y,W,H] TASK opens it on a task).
  if (argc < 2 || std::any_of(argv + 1, argv + argc, [](const char *a) {
        return std::string(a) == "--window";
      }))
    return kestrane::RunJoinerWindow(argc, argv);

  CLI::App app{"Joins the tiles of a task into one cloud-optimized tiled TIFF "
               "(GeoTIFF for\nNorth tasks) or an MBTiles database (North "
               "tasks).\nWithout arguments, or with --window [TASK]: the Tile "
               "Joiner window.\n"
               "Exit status: 0 every tile joined, 1 some tiles not joined, 2 "
               "input refused\nor the picture not written, 130 interrupted.",
               "tilejoin"};
  std::string project, output, format;
  bool noOverviews = false;
  int levels = 0;
  app.add_option("TASK", project, "the task's project file (.ktsk)")
      ->required();
  app.add_option("OUT", output,
                 "the picture (default: beside the project file, .tif or "
                 ".mbtiles)");
  app.add_option("--format", format,
                 "tiff or mbtiles (default: by the extension of OUT, .mbtiles "
                 "for MBTiles)")
      ->check(CLI::IsMember({"tiff", "mbtiles"}));
  app.add_flag("--no-overviews", noOverviews, "TIFF: build no reduced levels");
  app.add_option("--levels", levels,
                 "MBTiles: add N lower zooms built from the tiles (default 0)")
      ->check(CLI::Range(0, 21));
  app.set_version_flag("--version", "tilejoin " KESTRANE_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion &) {
    std::printf("tilejoin %s\n", KESTRANE_VERSION);
    return kestrane::kExitDone;
  } catch (const CLI::ParseError &e) {
    app.exit(e);
    return ExitStatusFor(ErrorCause::InputRefused);
  }
  kestrane::JoinOptions options;
  options.Format = format == "mbtiles" ? kestrane::JoinFormat::MbTiles
                   : format == "tiff"  ? kestrane::JoinFormat::GeoTiff
                                       : kestrane::JoinFormat::ByExtension;
  options.Overviews = !noOverviews;
  options.Levels = levels;
  return RunHeadless(project, output, options);
}
