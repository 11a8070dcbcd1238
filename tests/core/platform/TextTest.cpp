#include "platform/Text.h"

#include "platform/Files.h"
#include "platform/UniqueFd.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kestrane {
namespace {

using testing::PutBytes;
using testing::TempDir;

TEST(Text, TrimAndCaseFolding) {
  const struct {
    const char *in, *trimmed, *lowered;
  } cases[] = {
      {"", "", ""},
      {" \t ", "", " \t "},
      {"\tKey = Value \t", "Key = Value", "\tkey = value \t"},
      {"a\r\n", "a\r\n", "a\r\n"}, // only spaces and tabs are blanks
      {"\xC3\x84rger", "\xC3\x84rger", "\xC3\x84rger"}, // non-ASCII kept
      {"[Proxy]", "[Proxy]", "[proxy]"},
      {"@Z[`z{", "@Z[`z{", "@z[`z{"}, // the bytes beside A..Z stay
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Trim(c.in), c.trimmed) << c.in;
    EXPECT_EQ(AsciiLower(c.in), c.lowered) << c.in;
  }
}

TEST(Text, EqualsNoCase) {
  const struct {
    const char *a, *b;
    bool equal;
  } cases[] = {
      {"", "", true},
      {"Content-Length", "content-length", true},
      {"NORTH", "north", true},
      {"north", "nort", false},
      {"north ", "north", false}, // no trimming here
      {"@", "`", false},          // one apart from 'A'/'a' but no letter
      {"\xC3\x84", "\xC3\xA4", false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(EqualsNoCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
}

// Each line as "text|end" (ends shown as R and N), joined by ",".
std::string Show(const std::vector<TextLine> &lines) {
  std::string out;
  for (const TextLine &l : lines) {
    out += out.empty() ? "" : ",";
    out += l.Text;
    out += '|';
    for (char c : l.End)
      out += c == '\r' ? 'R' : 'N';
  }
  return out;
}

TEST(SplitLines, KeepsEachLineEndForWritingBack) {
  const struct {
    const char *text;
    LineEnds ends;
    const char *lines;
  } cases[] = {
      {"", LineEnds::CrLfOrLfOrCr, ""},
      {"a\r\nb\nc\rd", LineEnds::CrLfOrLfOrCr, "a|RN,b|N,c|R,d|"},
      {"a\n\r\n", LineEnds::CrLfOrLfOrCr, "a|N,|RN"},
      {"a\r\r\n", LineEnds::CrLfOrLfOrCr, "a|R,|RN"},
      // The HTTP head: a bare CR is no line end.
      {"GET / HTTP/1.1\r\nX: a\rb\r\n\r\n", LineEnds::LfOnly,
       "GET / HTTP/1.1|RN,X: a\rb|RN,|RN"},
      {"a\nb\n\n", LineEnds::LfOnly, "a|N,b|N,|N"},
      {"\r\n", LineEnds::LfOnly, "|RN"},
      {"a\r", LineEnds::LfOnly, "a\r|"},
  };
  for (const auto &c : cases) {
    const std::vector<TextLine> lines = SplitLines(c.text, c.ends);
    EXPECT_EQ(Show(lines), c.lines) << c.text;
    std::string back;
    for (const TextLine &l : lines)
      back += std::string(l.Text) + std::string(l.End);
    EXPECT_EQ(back, c.text) << "not written back byte for byte";
  }
}

bool IsOpen(int fd) {
  return ::fcntl(fd, F_GETFD) != -1;
}

TEST(UniqueFd, ClosesExactlyOnceWhateverTheOwnerDoes) {
  TempDir dir;
  PutBytes(dir.Path() + "f", "x");
  const auto openFile = [&] {
    return ::open((dir.Path() + "f").c_str(), O_RDONLY | O_CLOEXEC);
  };
  int fd = openFile();
  { UniqueFd owner(fd); }
  EXPECT_FALSE(IsOpen(fd)) << "not closed at the end of the scope";

  fd = openFile();
  UniqueFd first(fd);
  UniqueFd second(std::move(first));
  EXPECT_FALSE(first.Valid());
  EXPECT_EQ(second.Get(), fd);
  UniqueFd third;
  third = std::move(second);
  EXPECT_TRUE(IsOpen(fd)) << "closed by a move";
  const int other = openFile();
  third = UniqueFd(other);
  EXPECT_FALSE(IsOpen(fd)) << "the replaced descriptor leaked";
  EXPECT_EQ(third.Close(), 0);
  EXPECT_FALSE(IsOpen(other));
  EXPECT_EQ(third.Close(), 0) << "a second Close must not close again";

  fd = openFile();
  {
    UniqueFd handed(fd);
    EXPECT_EQ(handed.Release(), fd);
  }
  EXPECT_TRUE(IsOpen(fd)) << "closed after it was handed over";
  ::close(fd);
}

TEST(ReadBoundedFile, ReadsOnlyWholeRegularFilesWithinTheBound) {
  TempDir dir;
  const std::string d = dir.Path();
  PutBytes(d + "ten", "0123456789");
  PutBytes(d + "empty", "");
  std::filesystem::create_directory(d + "folder");
  ASSERT_EQ(::mkfifo((d + "fifo").c_str(), 0600), 0);
  const struct {
    const char *name;
    size_t bound;
    BoundedRead result;
    const char *bytes; // what `out` holds afterwards (it starts as "old")
  } cases[] = {
      {"ten", 10, BoundedRead::Whole, "0123456789"},
      {"ten", 9, BoundedRead::Refused, "old"},
      {"empty", 0, BoundedRead::Whole, ""},
      {"none", 10, BoundedRead::Missing, "old"},
      {"folder", 10, BoundedRead::Refused, "old"},
      {"fifo", 10, BoundedRead::Refused, "old"}, // without waiting for a writer
  };
  UniqueFd folder(::open(d.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (const auto &c : cases) {
    std::string out = "old";
    EXPECT_EQ(ReadBoundedFile(folder.Get(), c.name, c.bound, out), c.result)
        << c.name;
    EXPECT_EQ(out, c.bytes) << c.name;
    out = "old";
    EXPECT_EQ(ReadBoundedFile(AT_FDCWD, (d + c.name).c_str(), c.bound, out),
              c.result)
        << c.name << " by path";
  }
}

} // namespace
} // namespace kestrane
