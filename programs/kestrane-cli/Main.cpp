#include <clocale>
#include <cstdio>
#include <exception>
#include <string>

#include "Commands.h"
#include "Parse.h"
#include "platform/ExitStatus.h"
#include "platform/Version.h"

namespace {

struct Command {
  const char *Name;
  const char *Summary;
  int (*Run)(const kestrane::cli::Args &);
};

const Command kCommands[] = {
    {"plan", "prepare a task and show its size (no download)",
     kestrane::cli::RunPlan},
    {"download", "download a task (options as for plan)",
     kestrane::cli::RunDownload},
    {"resume",
     "FILE.ktsk or FILE.kjob: continue a task or job where it stopped",
     kestrane::cli::RunResume},
    {"open", "FILE.ktsk: show the fields a project file holds",
     kestrane::cli::RunOpen},
    {"redownload", "FILE.ftl: fetch the tiles of a failed-tile list again",
     kestrane::cli::RunRedownload},
    {"convert", "DEG MIN SEC: degrees, minutes, seconds to degrees",
     kestrane::cli::RunConvert},
    {"audit", "FILE.ktsk [--decode] [--list FILE]: count the stored tiles",
     kestrane::cli::RunAudit},
};

} // namespace

int main(int argc, char **argv) {
  std::setlocale(LC_ALL, "");
  using namespace kestrane::cli;
  const auto app = CommandApp("", "Downloads oblique aerial map tiles.");
  app->name("kestrane-cli");
  app->set_version_flag("--version", kestrane::kVersion);
  app->footer("kestrane-cli COMMAND --help shows a command's options.");
  app->require_subcommand(1);
  for (const Command &c : kCommands) {
    // The command parses its own arguments, --help among them.
    CLI::App *sub = app->add_subcommand(c.Name, c.Summary);
    sub->prefix_command();
    sub->set_help_flag();
  }
  const auto known = [](const std::string &name) {
    for (const Command &c : kCommands)
      if (name == c.Name)
        return true;
    return false;
  };
  if (argc > 1 && argv[1][0] != '-' && !known(argv[1])) {
    std::fprintf(stderr, "Unknown command: %s\n%s", argv[1],
                 app->help().c_str());
    return kestrane::ExitStatusFor(kestrane::ErrorCause::InputRefused);
  }
  if (const auto status = ParseCommand(*app, Args(argv + 1, argv + argc)))
    return *status;
  const CLI::App *chosen = app->get_subcommands().front();
  try {
    for (const Command &c : kCommands)
      if (chosen->get_name() == c.Name)
        return c.Run(chosen->remaining());
  } catch (const kestrane::KError &e) {
    // A failure that ended the command (the settings or a project file
    // that cannot be read, a task's file that cannot be written).
    return Fail(e);
  } catch (const std::exception &e) {
    return Fail(kestrane::ErrorCause::SystemFailed, e.what());
  }
  return kestrane::ExitStatusFor(kestrane::ErrorCause::InputRefused);
}
