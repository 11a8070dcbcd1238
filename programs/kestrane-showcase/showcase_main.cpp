// kestrane-showcase: the desktop program's windows, built as `kestrane`
// builds them, driven into a state and left to be looked at or saved. A
// program of the build for the screenshots and the window tests; it is not
// installed.
//   kestrane-showcase [--program-folder DIR] MODE
// MODE is one of
//   --showcase STATE [--ftl FILE.ftl] [--task FILE.ktsk]
//                                       a state under a window manager
//                                       (see Showcase.h); ends when killed
//   --screenshot DIR [--task FILE.ktsk] [--seconds N]
//                                       every window saved as a PNG in DIR
//   --options-round-trip FOLDER         the options dialog's save and
//                                       read-back of FOLDER
// --program-folder builds the windows as the program in DIR would: its
// settings file, map and manual (default: this program's folder).
#include <cstdio>
#include <string>

#include "Screenshots.h"
#include "Showcase.h"
#include "application/ApplicationWindows.h"

namespace {

struct ShowcaseOptions {
  QString ShotFolder, ShotTask, RoundTripFolder, Showcase, ShowcaseFtl;
  std::string ProgramFolder;
  int ShotSeconds = 8;
};

ShowcaseOptions ReadOptions(int argc, char **argv) {
  ShowcaseOptions o;
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string name = argv[i];
    const QString value = QString::fromLocal8Bit(argv[i + 1]);
    if (name == "--screenshot")
      o.ShotFolder = value;
    else if (name == "--task")
      o.ShotTask = value;
    else if (name == "--seconds")
      o.ShotSeconds = value.toInt();
    else if (name == "--options-round-trip")
      o.RoundTripFolder = value;
    else if (name == "--showcase")
      o.Showcase = value;
    else if (name == "--ftl")
      o.ShowcaseFtl = value;
    else if (name == "--program-folder")
      o.ProgramFolder = argv[i + 1];
    else
      continue;
    ++i;
  }
  return o;
}

int RunMode(QApplication &app, kestrane::ApplicationWindows &windows,
            const ShowcaseOptions &o) {
  const kestrane::ToolWindows &tools = windows.Tools();
  if (!o.RoundTripFolder.isEmpty())
    return kestrane::OptionsRoundTrip(*tools.Options, o.RoundTripFolder);
  if (!o.Showcase.isEmpty()) {
    if (!kestrane::StartShowcase(windows.Main(), tools, o.Showcase,
                                 o.ShowcaseFtl, o.ShotTask))
      return 2;
    return app.exec();
  }
  return kestrane::SaveScreenshots(windows.Main(), tools, o.ShotFolder,
                                   o.ShotTask, o.ShotSeconds);
}

} // namespace

int main(int argc, char **argv) {
  const ShowcaseOptions options = ReadOptions(argc, argv);
  if (options.RoundTripFolder.isEmpty() && options.Showcase.isEmpty() &&
      options.ShotFolder.isEmpty()) {
    std::fprintf(
        stderr,
        "usage: kestrane-showcase [--program-folder DIR] "
        "(--showcase STATE [--ftl FILE] [--task FILE] | --screenshot DIR "
        "[--task FILE] [--seconds N] | --options-round-trip "
        "FOLDER)\n");
    return 2;
  }
  return kestrane::RunApplication(
      argc, argv, options.ProgramFolder,
      [&options](QApplication &app, kestrane::ApplicationWindows &windows) {
        return RunMode(app, windows, options);
      });
}
