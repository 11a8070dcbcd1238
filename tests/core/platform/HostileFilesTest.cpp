// Files that someone else put in the program's way: links where the program
// replaces a file, and FIFOs, devices, sockets, folders and huge files where
// it reads one.
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Ini.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kestrane {
namespace {

using testing::GetBytes;
using testing::PutBytes;
using testing::TempDir;

// Ends the test program if a read waits for a writer that never comes, so
// a hang shows as a failure instead of stopping the suite.
class HangGuard {
public:
  HangGuard() { ::alarm(20); }
  ~HangGuard() { ::alarm(0); }
};

// Makes a sparse file of `size` bytes: no disk space, only its length.
void Sparse(const std::string &path, off_t size) {
  PutBytes(path, "");
  ASSERT_EQ(::truncate(path.c_str(), size), 0);
}

void Socket(const std::string &path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  path.copy(addr.sun_path, path.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  ::close(fd); // the socket file stays
}

TEST(HostileFiles, ReadersRefuseAnythingButABoundedRegularFile) {
  TempDir dir;
  struct Row {
    const char *name;
    std::function<std::string()> make; // returns the path to read
    bool listRefused;                  // ReadLines, ReadFileBytes
    bool iniRefused;                   // IniSnapshot
  };
  const Row rows[] = {
      {"FIFO without a writer (a read would wait for ever)",
       [&] {
         const std::string p = dir.Path() + "fifo.ktsk";
         EXPECT_EQ(::mkfifo(p.c_str(), 0600), 0);
         return p;
       },
       true, true},
      {"folder", [&] { return dir.Path(); }, true, true},
      {"character device (endless zeros)",
       [] { return std::string("/dev/zero"); }, true, true},
      {"character device (empty)", [] { return std::string("/dev/null"); },
       true, true},
      {"socket",
       [&] {
         const std::string p = dir.Path() + "sock";
         Socket(p);
         return p;
       },
       true, true},
      {"settings-sized bound exceeded by one byte",
       [&] {
         const std::string p = dir.Path() + "big.ini";
         Sparse(p, static_cast<off_t>(kMaxIniFileBytes) + 1);
         return p;
       },
       false, true},
      {"exactly at the settings bound",
       [&] {
         const std::string p = dir.Path() + "edge.ini";
         Sparse(p, static_cast<off_t>(kMaxIniFileBytes));
         return p;
       },
       false, false},
      {"log bound exceeded by one byte",
       [&] {
         const std::string p = dir.Path() + "big_log.txt";
         Sparse(p, static_cast<off_t>(kMaxListFileBytes) + 1);
         return p;
       },
       true, true},
  };
  const auto refused = [](const std::function<void()> &read,
                          const std::string &path) {
    try {
      read();
    } catch (const KError &e) {
      EXPECT_EQ(std::string(e.what()), "Cannot open file " + path);
      return true;
    }
    return false;
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = row.make();
    const HangGuard guard;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(refused([&] { ReadLines(path); }, path), row.listRefused);
    EXPECT_EQ(refused([&] { ReadFileBytes(path); }, path), row.listRefused);
    EXPECT_EQ(refused([&] { IniSnapshot{path}; }, path), row.iniRefused);
    // A refused file is not read at all: no waiting, no filling memory.
    if (row.listRefused && row.iniRefused) {
      EXPECT_LT(std::chrono::steady_clock::now() - started,
                std::chrono::milliseconds(500));
    }
  }
}

TEST(HostileFiles, EveryWriterReplacesALinkAndNeverTouchesItsTarget) {
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

TEST(HostileFiles, PlaceholderCopyKeepsALinkAndItsTarget) {
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

// A temporary name is made with the writer's process id, in the target's
// folder, with the fixed prefix and suffix that the clean-up recognises.
TEST(HostileFiles, TemporaryFilesCarryTheProgramsOwnName) {
  TempDir dir;
  struct Row {
    std::string name;
    bool ours;
    long owner;
  };
  const Row rows[] = {
      {".kestrane-tmp-123-0.part", true, 123},
      {".kestrane-tmp-999999999-4294967295.part", true, 999999999},
      {".kestrane-tmp-1234567890-1.part", false, 0}, // beyond any process id
      {".kestrane-tmp-0-1.part", false, 0},
      {"budget.xls.tmp99999.1", false, 0},
      {"ks_1_2_18.jpg.tmp123.0", false, 0},
  };
  for (const Row &row : rows) {
    long owner = 0;
    EXPECT_EQ(IsTemporaryName(row.name, &owner), row.ours) << row.name;
    EXPECT_EQ(owner, row.owner) << row.name;
  }
}

} // namespace
} // namespace kestrane
