#include "platform/Ini.h"

#include "platform/Errors.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

namespace kestrane {
namespace {

using testing::GetBytes;
using testing::PutBytes;
using testing::TempDir;

// A file that exercises every reading rule; `eol` is the line end used.
std::string ReaderFile(const std::string &eol) {
  const char *lines[] = {
      "orphan=before any section",
      "; a comment line",
      "stray text without equals sign",
      "[IniParas]",
      "DefaultPath = /home/u/Downloads  ",
      "Tabbed=\tv\t",
      "Quoted=\"  spaced  \"",
      "Single='x'",
      "Mismatch=\"abc'",
      "OnlyOne=\"",
      "Eq=a=b",
      "  Spaced Key  = sk",
      "Empty=",
      "Blank=   ",
      "Hex=$1F",
      "Hex0x= 0x10 ",
      "Neg= -12 ",
      "Garbage=12abc",
      "Big=2147483648",
      "Quoted7=\"7\"",
      "[ proxy ]",
      "UseProxy=1",
      "useproxy=2",
      "  [Other]  ",
      "k=other",
      "[Proxy]",
      "UseProxy=3",
      "Port=8080",
  };
  std::string out;
  for (const char *l : lines)
    out += std::string(l) + eol;
  return out;
}

struct ReadCase {
  const char *section;
  const char *key;
  const char *expected;
  const char *fault;
};

const ReadCase kReadCases[] = {
    {"IniParas", "DefaultPath", "/home/u/Downloads", "blanks kept"},
    {"iniparas", "DEFAULTPATH", "/home/u/Downloads", "names case-sensitive"},
    {" IniParas ", "DefaultPath", "/home/u/Downloads",
     "caller's name not trimmed"},
    {"IniParas", "Tabbed", "v", "tabs kept"},
    {"IniParas", "Quoted", "  spaced  ", "quotes kept or inner blanks lost"},
    {"IniParas", "Single", "x", "single quotes kept"},
    {"IniParas", "Mismatch", "\"abc'", "unmatched quotes removed"},
    {"IniParas", "OnlyOne", "\"", "a lone quote taken as a pair"},
    {"IniParas", "Eq", "a=b", "value cut at a second '='"},
    {"IniParas", "Spaced Key", "sk", "key name not trimmed"},
    {"IniParas", "Empty", "", "empty value read as missing"},
    {"IniParas", "Blank", "", "blank value read as missing"},
    {"IniParas", "Missing", "def", "missing key not defaulted"},
    {"NoSuchSection", "DefaultPath", "def", "key found in another section"},
    {"IniParas", "UseProxy", "def", "key of the next section leaked"},
    {"Proxy", "UseProxy", "1", "not the first section and key"},
    {"Other", "k", "other", "blanks around a header line"},
    {"Proxy", "Port", "def", "later duplicate section merged"},
    {"IniParas", "orphan", "def", "key before any section in a section"},
    {"IniParas", "stray text without equals sign", "def",
     "line without '=' taken as a key"},
};

TEST(IniRead, StringRulesWithEveryLineEnd) {
  // CR LF, LF-only and CR-only files read the same.
  for (const std::string eol : {"\r\n", "\n", "\r"}) {
    TempDir dir;
    const std::string path = dir.Path() + "read.ini";
    PutBytes(path, ReaderFile(eol));
    IniFile ini(path);
    for (const ReadCase &c : kReadCases)
      EXPECT_EQ(ini.ReadString(c.section, c.key, "def"), c.expected)
          << c.section << "/" << c.key << " (line end size " << eol.size()
          << "): " << c.fault;
  }
}

TEST(IniRead, IntegerRules) {
  TempDir dir;
  const std::string path = dir.Path() + "read.ini";
  PutBytes(path, ReaderFile("\r\n"));
  IniFile ini(path);
  const struct {
    const char *section;
    const char *key;
    int32_t expected;
    const char *fault;
  } cases[] = {
      {"IniParas", "Hex", 31, "'$' hexadecimal refused"},
      {"IniParas", "Hex0x", 16, "'0x' hexadecimal or blanks refused"},
      {"IniParas", "Neg", -12, "blanks or sign refused"},
      {"IniParas", "Quoted7", 7, "quotes not removed before converting"},
      {"IniParas", "Garbage", -99, "garbage read as its leading digits"},
      {"IniParas", "Big", -99, "32-bit overflow accepted"},
      {"IniParas", "Empty", -99, "empty value read as 0"},
      {"IniParas", "DefaultPath", -99, "text read as a number"},
      {"IniParas", "Missing", -99, "missing key not defaulted"},
      {"proxy", "useproxy", 1, "first key of the first section"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ini.ReadInteger(c.section, c.key, -99), c.expected)
        << c.section << "/" << c.key << ": " << c.fault;
}

TEST(IniRead, ValueIsCutAt2047Characters) {
  TempDir dir;
  const std::string path = dir.Path() + "long.ini";
  PutBytes(path, "[S]\r\nLong=" + std::string(3000, 'a') + "\r\nQuoted=\"" +
                     std::string(2046, 'b') +
                     "\"\r\nExact=" + std::string(2047, 'c') + "\r\n");
  IniFile ini(path);
  EXPECT_EQ(ini.ReadString("S", "Long", ""), std::string(2047, 'a'));
  // The quotes go first, so all 2046 characters inside them fit.
  EXPECT_EQ(ini.ReadString("S", "Quoted", ""), std::string(2046, 'b'));
  EXPECT_EQ(ini.ReadString("S", "Exact", ""), std::string(2047, 'c'));
}

TEST(IniRead, MissingFileOrFolderGivesDefaults) {
  TempDir dir;
  for (const std::string &path :
       {dir.Path() + "none.ini", dir.Path() + "nofolder/none.ini",
        dir.Path()}) {
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("IniParas", "DefaultPath", "c:\\downloads"),
              "c:\\downloads")
        << path;
    EXPECT_EQ(ini.ReadInteger("Proxy", "UseProxy", 0), 0) << path;
  }
}

struct WriteCase {
  const char *before;
  const char *section;
  const char *key;
  const char *value;
  const char *after;
  const char *fault;
};

TEST(IniWrite, Table) {
  const WriteCase cases[] = {
      // Replacing a key changes that line only, keeps its own line end and
      // every other byte (LF, CR, comments, unknown keys).
      {"[MapsType]\r\nMapsType=21\r\n\r\n[THREADS]\r\nThreadCount=3\r\nT1X=\r\n"
       "T1Y=\n; note\rUnknown=keep me\r\n\r\n",
       "THREADS", "T1X", "41990",
       "[MapsType]\r\nMapsType=21\r\n\r\n[THREADS]\r\nThreadCount=3\r\n"
       "T1X=41990\r\nT1Y=\n; note\rUnknown=keep me\r\n\r\n",
       "other lines touched by an in-place replacement"},
      {"[A]\r\nk=1\nm=2\r", "a", "M", "3", "[A]\r\nk=1\nM=3\r",
       "replacement lost the line's own CR or the caller's spelling"},
      {"[A]\r\n  k  =  1  \r\n", "A", "k", "2", "[A]\r\nk=2\r\n",
       "replaced line not rewritten as key=value"},
      {"[A]\r\nk=1", "A", "k", "22", "[A]\r\nk=22",
       "line end added to a replaced last line"},
      // A new key goes after the section's last key, before its blank lines.
      {"[A]\r\nk1=1\r\n\r\n[B]\r\nx=1\r\n", "A", "k2", "2",
       "[A]\r\nk1=1\r\nk2=2\r\n\r\n[B]\r\nx=1\r\n",
       "new key after the section's trailing blank line"},
      {"[A]\r\nk1=1\r\n; c\r\n\r\n", "A", "k2", "2",
       "[A]\r\nk1=1\r\nk2=2\r\n; c\r\n\r\n",
       "new key after trailing non-key lines"},
      {"[A]\r\n\r\n[B]\r\n", "A", "k", "v", "[A]\r\nk=v\r\n\r\n[B]\r\n",
       "new key in a section without keys"},
      {"[A]\r\nk1=1", "A", "k2", "2", "[A]\r\nk1=1\r\nk2=2\r\n",
       "new key glued to a last line without line end"},
      {"[A]", "A", "k", "v", "[A]\r\nk=v\r\n",
       "new key glued to a header without line end"},
      {"[A]\na=1\n[B]\n[A]\nb=2\n", "A", "b", "3",
       "[A]\na=1\nb=3\r\n[B]\n[A]\nb=2\n",
       "key written to a later duplicate section"},
      // A new section goes at the end of the file.
      {"[A]\r\nk=1\r\n", "B", "x", "y", "[A]\r\nk=1\r\n[B]\r\nx=y\r\n",
       "new section not at the end"},
      {"[A]\r\nk=1", "B", "x", "y", "[A]\r\nk=1\r\n[B]\r\nx=y\r\n",
       "new section glued to a last line without line end"},
      {"", "B", "x", "y", "[B]\r\nx=y\r\n", "empty file"},
      {"orphan=1\r\n", "B", "orphan", "2", "orphan=1\r\n[B]\r\norphan=2\r\n",
       "key before any section taken as part of a section"},
      // Values are written as they are.
      {"[A]\r\n", "A", "k", "  v \"q\" ", "[A]\r\nk=  v \"q\" \r\n",
       "value quoted or trimmed on writing"},
      {"[A]\r\nk=old\r\n", "A", "k", "", "[A]\r\nk=\r\n", "empty value"},
  };
  for (const WriteCase &c : cases) {
    TempDir dir;
    const std::string path = dir.Path() + "w.ini";
    PutBytes(path, c.before);
    IniFile(path).WriteString(c.section, c.key, c.value);
    EXPECT_EQ(GetBytes(path), c.after) << c.fault;
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"w.ini"})
        << "temporary file left behind: " << c.fault;
  }
}

TEST(IniWrite, WrittenValuesReadBack) {
  TempDir dir;
  IniFile ini(dir.Path() + "rt.ini");
  ini.WriteInteger("THREADS", "T1X", -41990);
  ini.WriteString("AREA", "LeftLongitude", "-122.34");
  ini.WriteInteger("threads", "t1x", 7); // same key, other spelling
  EXPECT_EQ(ini.ReadInteger("THREADS", "T1X", 0), 7);
  EXPECT_EQ(ini.ReadString("AREA", "LeftLongitude", ""), "-122.34");
  EXPECT_EQ(GetBytes(ini.FileName()),
            "[THREADS]\r\nt1x=7\r\n[AREA]\r\nLeftLongitude=-122.34\r\n");
}

// The timer's save writes all positions at once: the file must come out as
// the same keys written one by one would leave it, and a refused key must
// leave the file untouched rather than half-updated.
TEST(IniWrite, SeveralKeysAtOnceMatchOneByOne) {
  TempDir dir;
  const std::string start = "[THREADS]\r\nThreadCount=3\r\nT1X=\r\nT1Y=\r\n"
                            "\r\n[Other]\nkeep=me\n";
  const std::vector<std::pair<std::string, std::string>> keys = {
      {"T1X", "41990"}, {"T1Y", "170590"}, {"T2X", "41991"}, {"t1x", "5"}};
  PutBytes(dir.Path() + "one.ktsk", start);
  PutBytes(dir.Path() + "all.ktsk", start);
  IniFile one(dir.Path() + "one.ktsk");
  for (const auto &[k, v] : keys)
    one.WriteString("THREADS", k, v);
  IniFile all(dir.Path() + "all.ktsk");
  all.WriteStrings("THREADS", keys);
  EXPECT_EQ(GetBytes(all.FileName()), GetBytes(one.FileName()));

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"T3X", "1"}, {"T3Y", "2\r\nUseProxy=1"}};
  const std::string before = GetBytes(all.FileName());
  EXPECT_THROW(all.WriteStrings("THREADS", bad), KError);
  EXPECT_EQ(GetBytes(all.FileName()), before);
}

TEST(IniWrite, SettingsFileFromNothing) {
  TempDir dir;
  IniFile ini(dir.Path() + "config.ini");
  ini.WriteString("IniParas", "DefaultPath", "/home/u/Downloads");
  ini.WriteInteger("Proxy", "UseProxy", 0);
  ini.WriteString("Proxy", "ProxyServer", "");
  ini.WriteString("Proxy", "ProxyPort", "");
  ini.WriteString("Proxy", "ProxyUsername", "");
  ini.WriteString("Proxy", "ProxyPassword", "");
  EXPECT_EQ(GetBytes(ini.FileName()), "[IniParas]\r\n"
                                      "DefaultPath=/home/u/Downloads\r\n"
                                      "[Proxy]\r\n"
                                      "UseProxy=0\r\n"
                                      "ProxyServer=\r\n"
                                      "ProxyPort=\r\n"
                                      "ProxyUsername=\r\n"
                                      "ProxyPassword=\r\n");
}

TEST(IniWrite, KeepsTheFileMode) {
  TempDir dir;
  const std::string path = dir.Path() + "mode.ini";
  PutBytes(path, "[A]\r\nk=1\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  IniFile(path).WriteString("A", "k", "2");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(IniWrite, RefusedWriteThrowsAndChangesNothing) {
  TempDir dir;
  const std::string readOnly = dir.Path() + "ro.ini";
  const std::string original = "[A]\r\nk=1\r\n";
  PutBytes(readOnly, original);
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
  const std::string existing = dir.Path() + "ok.ini";
  PutBytes(existing, original);

  const struct {
    std::string path;
    const char *section;
    const char *key;
    const char *value;
    const char *fault;
  } cases[] = {
      {dir.Path() + "nofolder/config.ini", "A", "k", "v",
       "folder missing: file or folder created"},
      {dir.Path(), "A", "k", "v", "path is a folder"},
      {readOnly, "A", "k", "2", "read-only file overwritten"},
      {existing, "A", "k", "x\r\n[Proxy]\r\nUseProxy=1",
       "line break in a value forged a section"},
      {existing, "A", "k=j", "v", "'=' in a key name"},
      {existing, "A]x", "k", "v", "']' in a section name"},
      {existing, "", "k", "v", "empty section name"},
      {existing, "A", " ", "v", "blank key name"},
  };
  for (const auto &c : cases) {
    try {
      IniFile(c.path).WriteString(c.section, c.key, c.value);
      ADD_FAILURE() << "no error: " << c.fault;
    } catch (const KError &e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + c.path)
          << c.fault;
    }
  }
  EXPECT_EQ(GetBytes(readOnly), original);
  EXPECT_EQ(GetBytes(existing), original);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"ok.ini", "ro.ini"}))
      << "a refused write left a file behind";
}

} // namespace
} // namespace kestrane
