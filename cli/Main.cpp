#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "cli/Commands.h"

namespace {

const char kUsage[] =
    "usage: kestrane-cli COMMAND [options]\n"
    "  plan       prepare a task and show its size (no download)\n"
    "  download   download a task (options as for plan)\n"
    "  resume     FILE.ktsk: continue a task where it stopped\n"
    "  open       FILE.ktsk: show the fields a project file holds\n"
    "  redownload FILE.ftl: fetch the tiles of a failed-tile list again\n"
    "  convert    DEG MIN SEC: degrees, minutes, seconds to degrees\n"
    "  audit      FILE.ktsk [--decode] [--list FILE]: count the stored tiles\n"
    "Task options: --task NAME --path FOLDER --left X --right X --top Y\n"
    "  --bottom Y --zoom Z --dir North|East|South|West|0..3\n";

} // namespace

int main(int argc, char **argv) {
  std::setlocale(LC_ALL, "");
  if (argc < 2 || !std::strcmp(argv[1], "--help") ||
      !std::strcmp(argv[1], "-h")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  const kestrane::cli::Args args(argv + 2, argv + argc);
  using namespace kestrane::cli;
  try {
    if (command == "plan")
      return RunPlan(args);
    if (command == "download")
      return RunDownload(args);
    if (command == "resume")
      return RunResume(args);
    if (command == "open")
      return RunOpen(args);
    if (command == "redownload")
      return RunRedownload(args);
    if (command == "convert")
      return RunConvert(args);
    if (command == "audit")
      return RunAudit(args);
  } catch (const std::exception &e) {
    // A file the command could not read (the settings or a project file):
    // its text, and the input counts as refused.
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  std::fprintf(stderr, "Unknown command: %s\n%s", command.c_str(), kUsage);
  return 2;
}
