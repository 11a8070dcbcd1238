// Random file text through the INI reader, then one write: the reads never
// fail, a written value reads back, and every line the write did not touch
// stays byte for byte where it was.
#include "fuzz/FuzzTemp.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Ini.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using kestrane::fuzz::Fail;

struct RawLine {
  std::string text, end;
  bool operator==(const RawLine &o) const {
    return text == o.text && end == o.end;
  }
};

// Lines with their own ends: CR LF, LF or CR; a last line may have none.
std::vector<RawLine> Split(const std::string &bytes) {
  std::vector<RawLine> out;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n')
      continue;
    size_t len =
        (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ? 2
                                                                           : 1;
    out.push_back({bytes.substr(start, i - start), bytes.substr(i, len)});
    i += len - 1;
    start = i + 1;
  }
  if (start < bytes.size())
    out.push_back({bytes.substr(start), ""});
  return out;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string Trim(const std::string &s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b]))
    ++b;
  while (e > b && IsBlank(s[e - 1]))
    --e;
  return s.substr(b, e - b);
}

// What a read gives back for a written value: blanks around it and one pair
// of enclosing quotes dropped, at most 2,047 characters.
std::string AsRead(const std::string &value) {
  std::string v = Trim(value);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') &&
      v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  if (v.size() > 2047)
    v.resize(2047);
  return v;
}

// The old lines against the new ones. The last old line may have gained a
// line end (something was written after it); apart from that the write
// replaces one line in place, inserts one line, or adds a section header and
// its key at the end.
void CheckUntouchedLines(const std::vector<RawLine> &before,
                         const std::vector<RawLine> &after) {
  auto same = [&](size_t i, size_t j) {
    if (before[i] == after[j])
      return true;
    return i + 1 == before.size() && before[i].end.empty() &&
           before[i].text == after[j].text && after[j].end == "\r\n";
  };
  if (after.size() == before.size()) {
    size_t changed = 0;
    for (size_t i = 0; i < before.size(); ++i)
      if (!(before[i] == after[i]))
        ++changed;
    if (changed > 1)
      Fail("a replacing write changed more than one line");
    return;
  }
  if (after.size() == before.size() + 1) {
    size_t i = 0, j = 0;
    bool skipped = false;
    while (i < before.size()) {
      if (same(i, j)) {
        ++i;
        ++j;
      } else if (!skipped) {
        skipped = true;
        ++j;
      } else {
        Fail("an inserting write changed an untouched line");
      }
    }
    return;
  }
  if (after.size() == before.size() + 2) {
    for (size_t i = 0; i < before.size(); ++i)
      if (!same(i, i))
        Fail("a new section changed an untouched line");
    return;
  }
  Fail("a write added or removed more lines than one key needs");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string section = in.ConsumeRandomLengthString(24);
  const std::string key = in.ConsumeRandomLengthString(24);
  const std::string value = in.ConsumeRandomLengthString(64);
  std::string text = in.ConsumeRemainingBytesAsString();
  // Room for the writes below: a file they push past the 1 MiB bound of a
  // project file would read as empty, as it should.
  if (text.size() > kestrane::kMaxIniFileBytes - 4096)
    text.resize(kestrane::kMaxIniFileBytes - 4096);

  const std::string path = kestrane::fuzz::ScratchFolder() + "fuzz.ini";
  kestrane::fuzz::WriteRaw(path, text);
  kestrane::IniFile ini(path);

  const std::string read = ini.ReadString(section, key, "\x01missing");
  if (read != "\x01missing" && read.size() > 2047)
    Fail("a read returned more than 2,047 characters");
  (void)ini.ReadInteger(section, key, -7);
  (void)ini.ReadString("THREADS", "T1X", "");

  bool written = true;
  try {
    ini.WriteString(section, key, value);
  } catch (const kestrane::KError &) {
    written = false;
  }
  const std::string after = kestrane::fuzz::ReadRaw(path);
  if (!written) {
    if (after != text)
      Fail("a refused write changed the file");
    return 0;
  }
  if (ini.ReadString(section, key, "\x01missing") != AsRead(value))
    Fail("a written value does not read back");
  CheckUntouchedLines(Split(text), Split(after));

  // A second write of the same key replaces the line the first one wrote.
  try {
    ini.WriteInteger(section, key, 12345);
  } catch (const kestrane::KError &) {
    Fail("a second write of an accepted key was refused");
  }
  if (ini.ReadInteger(section, key, 0) != 12345)
    Fail("a written integer does not read back");
  if (Split(kestrane::fuzz::ReadRaw(path)).size() != Split(after).size())
    Fail("rewriting an existing key changed the line count");

  // Several keys in one replacement (the timer's positions): all or none.
  const std::vector<std::pair<std::string, std::string>> batch = {
      {key, value}, {"T1X", "41994"}, {key + "2", "170596"}};
  const std::string beforeBatch = kestrane::fuzz::ReadRaw(path);
  try {
    ini.WriteStrings(section, batch);
  } catch (const kestrane::KError &) {
    if (kestrane::fuzz::ReadRaw(path) != beforeBatch)
      Fail("a refused batch changed the file");
    return 0;
  }
  // Each key reads back its value unless another key of the batch names
  // the same entry (names match without regard to case and blanks).
  auto same = [](const std::string &x, const std::string &y) {
    const std::string a = Trim(x), b = Trim(y);
    if (a.size() != b.size())
      return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(a[i])) !=
          std::tolower(static_cast<unsigned char>(b[i])))
        return false;
    return true;
  };
  for (size_t i = 0; i < batch.size(); ++i) {
    bool shared = false;
    for (size_t j = 0; j < batch.size(); ++j)
      shared = shared || (i != j && same(batch[i].first, batch[j].first));
    if (!shared && ini.ReadString(section, batch[i].first, "\x01missing") !=
                       AsRead(batch[i].second))
      Fail("a batch-written value does not read back");
  }
  return 0;
}
