#include "platform/Files.h"

#include "platform/Errors.h"
#include "platform/Ini.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kestrane {
namespace {

using testing::GetBytes;
using testing::PutBytes;
using testing::TempDir;
using Lines = std::vector<std::string>;

TEST(ReadLines, LineEnds) {
  const struct {
    const char *bytes;
    Lines expected;
    const char *fault;
  } cases[] = {
      {"a\r\nb\r\n", {"a", "b"}, "CR LF"},
      {"a\nb\n", {"a", "b"}, "LF only"},
      {"a\rb\r", {"a", "b"}, "CR only"},
      {"a\r\nb", {"a", "b"}, "last line without line end dropped"},
      {"", {}, "empty file gives a line"},
      {"\r\n", {""}, "one empty line"},
      {"a\r\n\r\nb\r\n", {"a", "", "b"}, "empty line in the middle"},
      {"a\n\rb", {"a", "", "b"}, "LF CR is two line ends"},
      {"a\r\r\nb", {"a", "", "b"}, "CR before CR LF"},
      {"a\r\n\r\n", {"a", ""}, "final line end made an extra line"},
      {"x y\tz \r\n", {"x y\tz "}, "blanks trimmed"},
  };
  TempDir dir;
  const std::string path = dir.Path() + "lines.txt";
  for (const auto &c : cases) {
    PutBytes(path, c.bytes);
    EXPECT_EQ(ReadLines(path), c.expected) << c.fault;
  }
}

TEST(ReadLines, MissingFileOrFolderThrows) {
  TempDir dir;
  for (const std::string &path : {dir.Path() + "none.txt", dir.Path()}) {
    try {
      ReadLines(path);
      ADD_FAILURE() << "no error for " << path;
    } catch (const KError &e) {
      EXPECT_EQ(std::string(e.what()), "Cannot open file " + path);
    }
  }
}

TEST(WriteLines, EveryLineEndsWithCrLf) {
  TempDir dir;
  const std::string path = dir.Path() + "out.txt";
  WriteLines(path, {"first", "", "last"});
  EXPECT_EQ(GetBytes(path), "first\r\n\r\nlast\r\n");
  WriteLines(path, {});
  EXPECT_EQ(GetBytes(path), "") << "an empty list must give an empty file";
  EXPECT_EQ(dir.Names(), Lines{"out.txt"}) << "temporary file left behind";
}

TEST(WriteLines, FailedWriteKeepsTheOldFile) {
  TempDir dir;
  const std::string readOnly = dir.Path() + "ro.txt";
  PutBytes(readOnly, "old\r\n");
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
  const std::string paths[] = {
      dir.Path() + "nofolder/out.txt", // folder missing
      dir.Path(),                      // a folder
      readOnly,                        // a read-only file
      "",                              // no name at all
  };
  for (const std::string &path : paths) {
    try {
      WriteLines(path, {"new"});
      ADD_FAILURE() << "no error for \"" << path << "\"";
    } catch (const KError &e) {
      EXPECT_EQ(std::string(e.what()), "Cannot create file " + path);
    }
  }
  EXPECT_EQ(GetBytes(readOnly), "old\r\n");
  EXPECT_EQ(dir.Names(), Lines{"ro.txt"}) << "temporary file left behind";
}

TEST(WriteFileAtomic, ReportsTheReasonAndKeepsTheMode) {
  TempDir dir;
  std::string reason;
  EXPECT_FALSE(WriteFileAtomic(dir.Path() + "no/x.bin", "x", &reason));
  EXPECT_EQ(reason, "No such file or directory");

  const std::string path = dir.Path() + "x.bin";
  PutBytes(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  std::string bytes("a\0b\r\n", 5); // bytes, not text: NUL and CR LF kept
  EXPECT_TRUE(WriteFileAtomic(path, bytes, &reason));
  EXPECT_EQ(GetBytes(path), bytes);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(ReadFileBytes(path), bytes);
}

TEST(WriteFileAtomic, ReplacesALinkInsteadOfWritingThroughIt) {
  TempDir dir;
  const std::string real = dir.Path() + "real.txt";
  const std::string link = dir.Path() + "link.txt";
  PutBytes(real, "old");
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  EXPECT_TRUE(WriteFileAtomic(link, "new"));
  EXPECT_EQ(GetBytes(real), "old") << "the write followed the link";
  EXPECT_EQ(GetBytes(link), "new");
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link still stands";
}

TEST(WriteFileAtomic, ConcurrentWritersNeverMixTheirBytes) {
  TempDir dir;
  const std::string path = dir.Path() + "shared.bin";
  const int kThreads = 4;
  const int kWrites = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&path, t] {
      const std::string content(100000, static_cast<char>('a' + t));
      for (int i = 0; i < kWrites; ++i)
        EXPECT_TRUE(WriteFileAtomic(path, content));
    });
  for (std::thread &th : threads)
    th.join();
  const std::string result = GetBytes(path);
  ASSERT_EQ(result.size(), 100000u);
  EXPECT_EQ(result, std::string(100000, result[0]))
      << "two writers shared a temporary file";
  EXPECT_EQ(dir.Names(), Lines{"shared.bin"});
}

TEST(CopyFileTo, ReplaceOrKeep) {
  TempDir dir;
  const std::string src = dir.Path() + "blank.jpg";
  const std::string dst = dir.Path() + "tile.jpg";
  PutBytes(src, "blank");

  // Keeping an existing file: nothing there yet, so it is copied.
  EXPECT_TRUE(CopyFileTo(src, dst, true));
  EXPECT_EQ(GetBytes(dst), "blank");

  // Keeping an existing file: the existing one stays.
  PutBytes(dst, "tile");
  EXPECT_FALSE(CopyFileTo(src, dst, true));
  EXPECT_EQ(GetBytes(dst), "tile");

  // Replacing.
  EXPECT_TRUE(CopyFileTo(src, dst, false));
  EXPECT_EQ(GetBytes(dst), "blank");

  // A missing source or target folder fails and creates nothing.
  EXPECT_FALSE(
      CopyFileTo(dir.Path() + "none.jpg", dir.Path() + "n.jpg", false));
  EXPECT_FALSE(CopyFileTo(src, dir.Path() + "nofolder/t.jpg", false));
  // A folder in the target's place is never replaced.
  ASSERT_TRUE(CreateDir(dir.Path() + "sub"));
  EXPECT_FALSE(CopyFileTo(src, dir.Path() + "sub", false));
  EXPECT_TRUE(DirectoryExists(dir.Path() + "sub"));

  EXPECT_EQ(dir.Names(), (Lines{"blank.jpg", "sub", "tile.jpg"}))
      << "temporary or stray file left behind";
}

TEST(Files, ExistenceAndFolderCreation) {
  TempDir dir;
  const std::string file = dir.Path() + "f.txt";
  PutBytes(file, "x");
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(dir.Path())) << "a folder is no file";
  EXPECT_FALSE(FileExists(dir.Path() + "none"));
  EXPECT_TRUE(DirectoryExists(dir.Path()));
  EXPECT_FALSE(DirectoryExists(file)) << "a file is no folder";

  EXPECT_TRUE(CreateDir(dir.Path() + "one/"));
  EXPECT_TRUE(DirectoryExists(dir.Path() + "one"));
  EXPECT_FALSE(CreateDir(dir.Path() + "one")) << "existing folder";
  EXPECT_FALSE(CreateDir(dir.Path() + "a/b")) << "only one level is created";
  EXPECT_FALSE(DirectoryExists(dir.Path() + "a"));
  EXPECT_FALSE(CreateDir(""));
}

TEST(Files, PathPieces) {
  const struct {
    const char *path;
    const char *folder;
    const char *name;
    const char *ext;
  } cases[] = {
      {"/data/tiles/mytask.ktsk", "/data/tiles/", "mytask.ktsk", ".ktsk"},
      {"mytask", "", "mytask", ""},
      {"mytask.KTSK.ktsk", "", "mytask.KTSK.ktsk", ".ktsk"},
      {"/data/v1.2/mytask", "/data/v1.2/", "mytask", ""}, // dot in a folder
      {"a.b:c", "", "a.b:c", ".b:c"}, // ":" is an ordinary character here
      {"/data/", "/data/", "", ""},
      {"/data/.hidden", "/data/", ".hidden", ".hidden"},
      {"name.", "", "name.", "."},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(ExtractFilePath(c.path), c.folder) << c.path;
    EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
    EXPECT_EQ(ExtractFileExt(c.path), c.ext) << c.path;
  }
  EXPECT_EQ(IncludeTrailingDelimiter("/data"), "/data/");
  EXPECT_EQ(IncludeTrailingDelimiter("/data/"), "/data/");
}

TEST(Files, ProgramFolderHoldsTheRunningProgram) {
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(folder.front(), '/');
  EXPECT_TRUE(FileExists(folder + "test_platform"));
}

TEST(FileWriters, EveryOneReplacesALinkAndNeverTouchesItsTarget) {
  TempDir dir;
  const std::string blank = dir.Path() + "blank.jpg";
  PutBytes(blank, "blank");
  struct Row {
    const char *writer;
    std::function<bool(const std::string &)> write;
  };
  const Row rows[] = {
      {"WriteFileAtomic (project file, tile lists)",
       [](const std::string &p) { return WriteFileAtomic(p, "new"); }},
      {"WriteFileAtomicUnsynced (tiles, side files, log, failed list)",
       [](const std::string &p) { return WriteFileAtomicUnsynced(p, "new"); }},
      {"WriteLines (log header)",
       [](const std::string &p) {
         WriteLines(p, {"new"});
         return true;
       }},
      {"CopyFileTo replacing",
       [&](const std::string &p) { return CopyFileTo(blank, p, false); }},
      {"IniFile (project and settings file)",
       [](const std::string &p) {
         IniFile(p).WriteString("A", "k", "v");
         return true;
       }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.writer);
    // A link to a file of the user, and a dangling link to where a new file
    // would land outside the folder.
    TempDir outside;
    const std::string victim = outside.Path() + "victim.txt";
    const std::string absent = outside.Path() + "created.txt";
    PutBytes(victim, "secret");
    const std::string link = dir.Path() + "link";
    const std::string dangling = dir.Path() + "dangling";
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
    ASSERT_EQ(::symlink(absent.c_str(), dangling.c_str()), 0);

    EXPECT_TRUE(row.write(link));
    EXPECT_TRUE(row.write(dangling));
    EXPECT_EQ(GetBytes(victim), "secret") << "the link's target was written";
    EXPECT_FALSE(FileExists(absent)) << "a dangling link made a file";
    for (const std::string &p : {link, dangling}) {
      struct stat st;
      ASSERT_EQ(::lstat(p.c_str(), &st), 0);
      EXPECT_TRUE(S_ISREG(st.st_mode)) << p << " is still a link";
    }
    ::unlink(link.c_str());
    ::unlink(dangling.c_str());
  }
}

TEST(CopyFileTo, KeepingAnExistingFileKeepsALinkAndItsTarget) {
  TempDir dir;
  TempDir outside;
  const std::string blank = dir.Path() + "blank.jpg";
  const std::string victim = outside.Path() + "victim.txt";
  const std::string absent = outside.Path() + "created.txt";
  PutBytes(blank, "blank");
  PutBytes(victim, "secret");
  const std::string link = dir.Path() + "ks_1_2_18.jpg";
  const std::string dangling = dir.Path() + "ks_1_3_18.jpg";
  ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
  ASSERT_EQ(::symlink(absent.c_str(), dangling.c_str()), 0);
  // Something stands at both paths: the copy that never replaces keeps it.
  EXPECT_FALSE(CopyFileTo(blank, link, true));
  EXPECT_FALSE(CopyFileTo(blank, dangling, true));
  EXPECT_EQ(GetBytes(victim), "secret");
  EXPECT_FALSE(FileExists(absent));
}

} // namespace
} // namespace kestrane

// A run killed in mid-write leaves its temporary files; a later start removes
// those of dead writers only, and never a tile or another process's file.
TEST(Files, RemoveStaleTemporaries) {
  kestrane::testing::TempDir dir;
  // Process ids above the system's highest one never run.
  const std::string own = std::to_string(::getpid());
  const struct {
    std::string name;
    bool stays;
  } files[] = {
      {"ks_1_2_18.jpg", true},                    // a tile
      {".kestrane-tmp-4194999-0.part", false},    // writer long gone
      {".kestrane-tmp-4194998-12.part", false},   // another one
      {".kestrane-tmp-" + own + "-3.part", true}, // this process writes
      {"budget.xls.tmp99999.1", true},            // a user's file
      {"ks_1_2_18.jpg.tmp4194999.0", true},       // not our name form
      {"x.kestrane-tmp-4194999-0.part", true},    // prefix not at start
      {".kestrane-tmp-4194999-0.part.bak", true}, // suffix not at end
      {".kestrane-tmp-4194999.part", true},       // no counter
      {".kestrane-tmp--1.part", true},            // no process id
      {".kestrane-tmp-4194x99-1.part", true},     // not a number
  };
  for (const auto &f : files)
    kestrane::testing::PutBytes(dir.Path() + f.name, "x");
  // A folder of that name is no temporary file either.
  ASSERT_EQ(
      ::mkdir((dir.Path() + ".kestrane-tmp-4194997-1.part").c_str(), 0777), 0);
  EXPECT_EQ(kestrane::RemoveStaleTemporaries(dir.Path()), 2u);
  for (const auto &f : files)
    EXPECT_EQ(kestrane::FileExists(dir.Path() + f.name), f.stays) << f.name;
  EXPECT_TRUE(
      kestrane::DirectoryExists(dir.Path() + ".kestrane-tmp-4194997-1.part"));
}
