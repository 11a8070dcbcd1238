// Opening a project file just under the 1 MiB bound, of blank lines with its
// keys at the end, against one key's read of the same file: opening reads
// eight keys from one parse, so it costs about one key's read, not eight.
// Prints "open_ms one_key_ms ratio"; the fastest of many runs of each, the
// two kinds taking turns, so that a busy machine slows both alike.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "inventory/ProjectFile.h"
#include "platform/Files.h"
#include "platform/Ini.h"

namespace {

using Seconds = std::chrono::duration<double>;

double Since(std::chrono::steady_clock::time_point t0) {
  return Seconds(std::chrono::steady_clock::now() - t0).count();
}

const char kProjectKeys[] = "[AREA]\r\nLeftLongitude=116.25\r\n"
                            "RightLongitude=116.26\r\nTopLatitude=39.91\r\n"
                            "BottomLatitude=39.90\r\n[Zoom]\r\nZoom=18\r\n"
                            "[Dir]\r\nDir=2\r\n";

} // namespace

int main(int argc, char **argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
  const std::string path =
      (std::filesystem::temp_directory_path() / "kestrane-bench-open.ktsk")
          .string();
  std::string text;
  const size_t keys = sizeof kProjectKeys - 1;
  for (size_t i = 0; i + 2 + keys <= kestrane::kMaxIniFileBytes; i += 2)
    text += "\r\n";
  text += kProjectKeys;
  std::ofstream(path, std::ios::binary) << text;

  double open = 1e9, oneKey = 1e9;
  for (int run = 0; run < runs; ++run) {
    auto t0 = std::chrono::steady_clock::now();
    const kestrane::OpenedTask t = kestrane::OpenTaskFile(path);
    open = std::min(open, Since(t0));
    if (t.Zoom != 18) {
      std::fprintf(stderr, "the project file read back wrong\n");
      return 1;
    }
    t0 = std::chrono::steady_clock::now();
    kestrane::IniFile(path).ReadString("Zoom", "Zoom", "");
    oneKey = std::min(oneKey, Since(t0));
  }
  std::remove(path.c_str());
  std::printf("%.3f %.3f %.3f\n", open * 1e3, oneKey * 1e3, open / oneKey);
  return 0;
}
