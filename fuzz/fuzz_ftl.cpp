// Random bytes as a failed-tile list: the line reader and the record split
// of the re-download run. Every byte that is not a line end survives, in
// order; every line end (CR LF, LF, CR) ends exactly one line; writing the
// lines and reading them again gives the same lines.
#include "fuzz/FuzzTemp.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "redownload/RedownloadRun.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using kestrane::fuzz::Fail;

size_t CountLines(const std::string &bytes) {
  size_t lines = 0;
  size_t i = 0;
  bool open = false; // characters since the last line end
  while (i < bytes.size()) {
    if (bytes[i] == '\r' || bytes[i] == '\n') {
      ++lines;
      open = false;
      i += (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
               ? 2
               : 1;
      continue;
    }
    open = true;
    ++i;
  }
  return lines + (open ? 1 : 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  const std::string folder = kestrane::fuzz::ScratchFolder();
  const std::string path = folder + "fuzz_failed.ftl";
  kestrane::fuzz::WriteRaw(path, bytes);

  std::vector<std::string> lines;
  try {
    lines = kestrane::ReadLines(path);
  } catch (const kestrane::KError &) {
    Fail("a readable list was refused");
  }
  if (lines.size() != CountLines(bytes))
    Fail("line count differs from the line ends in the file");
  std::string joined, stripped;
  for (const std::string &l : lines) {
    if (l.find_first_of("\r\n") != std::string::npos)
      Fail("a line holds a line end");
    joined += l;
  }
  for (char c : bytes)
    if (c != '\r' && c != '\n')
      stripped += c;
  if (joined != stripped)
    Fail("bytes of the list were lost or changed");

  // The record split of the re-download run: path before the first "|",
  // URL after it, neither trimmed.
  for (const std::string &l : lines) {
    const kestrane::FailedTileRecord r = kestrane::SplitFailedTileLine(l);
    const size_t bar = l.find('|');
    if (r.Path.find('|') != std::string::npos)
      Fail("a record's file path holds a bar");
    if (bar == std::string::npos ? (!r.Path.empty() || r.Url != l)
                                 : (r.Path + "|" + r.Url != l))
      Fail("record split lost or moved characters");
  }

  // The pane is written back line by line: the round trip is exact.
  const std::string copy = folder + "fuzz_copy.ftl";
  kestrane::WriteLines(copy, lines);
  if (kestrane::ReadLines(copy) != lines)
    Fail("written lines read back differently");
  const std::string raw = kestrane::fuzz::ReadRaw(copy);
  if (raw.size() < 2 * lines.size())
    Fail("a written line lacks its CR LF");
  return 0;
}
