// Readers of the program's files refuse what someone else put in their
// way: FIFOs, devices, sockets, folders and files larger than the bound.
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

TEST(FileReaders, RefuseAnythingButABoundedRegularFile) {
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

} // namespace
} // namespace kestrane
