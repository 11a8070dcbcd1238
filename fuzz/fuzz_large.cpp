// Large files from a small input: a pattern repeated up to a length chosen
// by the input, on both sides of the 1 MiB bound of project and settings
// files. The readers take a file within the bound and refuse one beyond it
// with the read-failure text; nothing else ends the read. Every line of the
// file is also a failed-tile record, and no record the re-download run
// would take leads outside the list's folder or names anything but a tile.
#include "fuzz/FuzzTemp.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Ini.h"
#include "redownload/RedownloadRun.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using kestrane::fuzz::Fail;

bool Refused(const std::string &path, void (*read)(const std::string &)) {
  try {
    read(path);
  } catch (const kestrane::KError &e) {
    if (std::string(e.what()) != "Cannot open file " + path)
      Fail("a refusal without the read-failure text");
    return true;
  }
  return false;
}

bool IsTileName(const std::string &name) {
  // ks_<digits>_<digits>_<digits>.jpg
  if (name.rfind("ks_", 0) != 0 || name.size() < 12 ||
      name.compare(name.size() - 4, 4, ".jpg") != 0)
    return false;
  int bars = 0;
  char last = '_';
  for (size_t i = 3; i < name.size() - 4; ++i) {
    const char c = name[i];
    if (c == '_') {
      if (last == '_')
        return false;
      ++bars;
    } else if (c < '0' || c > '9') {
      return false;
    }
    last = c;
  }
  return bars == 2 && last != '_';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  const size_t length =
      in.ConsumeIntegralInRange<size_t>(0, kestrane::kMaxIniFileBytes + 4096);
  std::string pattern = in.ConsumeRemainingBytesAsString();
  if (pattern.empty())
    pattern = "\r\n";
  std::string bytes;
  bytes.reserve(length);
  while (bytes.size() < length)
    bytes.append(pattern, 0, std::min(pattern.size(), length - bytes.size()));

  const std::string folder = kestrane::fuzz::ScratchFolder();
  const std::string path = folder + "large.ktsk";
  kestrane::fuzz::WriteRaw(path, bytes);
  const bool beyond = bytes.size() > kestrane::kMaxIniFileBytes;

  if (Refused(path, [](const std::string &p) {
        const kestrane::IniSnapshot ini(p);
        (void)ini.ReadString("AREA", "LeftLongitude", "");
        (void)ini.ReadInteger("THREADS", "T1X", 0);
      }) != beyond)
    Fail("the project file bound is not 1 MiB");
  if (Refused(path, [](const std::string &p) {
        (void)kestrane::ReadLines(p, kestrane::kMaxIniFileBytes);
      }) != beyond)
    Fail("the line reader's bound is not the one asked for");
  // Beyond the bound, the file reads as empty for a single key.
  if (beyond && kestrane::IniFile(path).ReadString("A", "k", "def") != "def")
    Fail("an oversized file was read");

  const std::vector<std::string> lines = kestrane::ReadLines(path);
  const kestrane::ListTileRule rule(folder + "large_failed.ftl");
  size_t checked = 0;
  for (const std::string &line : lines) {
    if (++checked > 2000)
      break; // enough records for one input; the rest repeat the pattern
    const std::optional<std::string> file =
        rule.Take(kestrane::SplitFailedTileLine(line).Path);
    if (!file)
      continue;
    if (file->rfind(folder, 0) != 0)
      Fail("a taken record lies outside the list's folder");
    if (file->find("/../") != std::string::npos ||
        file->find("/./") != std::string::npos)
      Fail("a taken record keeps a dot component");
    if (!IsTileName(kestrane::ExtractFileName(*file)))
      Fail("a taken record is not a tile file");
  }
  return 0;
}
