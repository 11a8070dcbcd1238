// The record of checked tiles vouches for a stored file only while it is
// the very file that was recorded, bytes and all; a record that someone
// else could have written vouches for nothing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "platform/UniqueFd.h"
#include "tests/support/Tamper.h"
#include "tests/support/TempDir.h"
#include "tile/CheckedTiles.h"
#include "tile/TileStore.h"

namespace kestrane {
namespace {

using testing::GetBytes;
using testing::PutBytes;
using testing::TempDir;

const std::string kBytes = "\xFF\xD8 a checked tile's bytes \xFF\xD9";

// A tile stored through the folder's handle, as the workers store one, and
// its entry in the record at `record`.
FileStamp StoreRecorded(const std::string &folder, const std::string &name,
                        const std::string &record,
                        const std::string &bytes = kBytes) {
  const UniqueFd fd = OpenFolder(folder);
  FileStamp placed;
  EXPECT_TRUE(StoreTileFile(fd.Get(), name, bytes, nullptr, &placed));
  CreateCheckedTiles(record);
  CheckedTileRecord(record).Add(placed, bytes);
  return placed;
}

bool Vouched(const std::string &record, const std::string &tile) {
  std::string bytes;
  FileStamp stamp;
  EXPECT_EQ(ReadBoundedFile(AT_FDCWD, tile.c_str(), 1 << 20, bytes, 0, &stamp),
            BoundedRead::Whole);
  return CheckedTiles::Read(record).Vouches(stamp, bytes);
}

TEST(CheckedTiles, VouchesOnlyForTheFileRecorded) {
  struct Row {
    const char *What;
    std::function<void(const std::string &tile)> Change;
    bool Vouched;
  };
  const std::vector<Row> rows = {
      {"the file as stored", [](const std::string &) {}, true},
      {"bytes changed in place, size and times put back",
       [](const std::string &tile) { test::OverwriteKeepingTimes(tile); },
       false},
      {"the same bytes in another file put in its place",
       [](const std::string &tile) {
         PutBytes(tile + ".new", kBytes);
         ASSERT_EQ(::rename((tile + ".new").c_str(), tile.c_str()), 0);
       },
       false},
      {"its mode changed",
       [](const std::string &tile) {
         ASSERT_EQ(::chmod(tile.c_str(), 0600), 0);
       },
       false},
      {"a second name given to it",
       [](const std::string &tile) {
         ASSERT_EQ(::link(tile.c_str(), (tile + ".2").c_str()), 0);
       },
       false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.What);
    TempDir dir;
    const std::string record = dir.Path() + "t_checked.bin";
    StoreRecorded(dir.Path(), "a.jpg", record);
    row.Change(dir.Path() + "a.jpg");
    EXPECT_EQ(Vouched(record, dir.Path() + "a.jpg"), row.Vouched);
  }
}

TEST(CheckedTiles, VouchesNotForOtherBytesOfTheStamp) {
  TempDir dir;
  const std::string record = dir.Path() + "t_checked.bin";
  const FileStamp stamp = StoreRecorded(dir.Path(), "a.jpg", record);
  const CheckedTiles checked = CheckedTiles::Read(record);
  ASSERT_TRUE(checked.Vouches(stamp, kBytes));
  std::string other = kBytes;
  other[3] = 'A';
  EXPECT_FALSE(checked.Vouches(stamp, other));
  EXPECT_FALSE(checked.Vouches(FileStamp{}, kBytes));
}

// A record that this user did not write alone, or that is no plain file,
// vouches for nothing, and the workers do not write into it.
TEST(CheckedTiles, ARecordOthersCouldWriteVouchesForNothing) {
  struct Row {
    const char *What;
    std::function<void(const std::string &dir, const std::string &record)> Make;
  };
  const std::vector<Row> rows = {
      {"writable by the group",
       [](const std::string &, const std::string &record) {
         ASSERT_EQ(::chmod(record.c_str(), 0620), 0);
       }},
      {"writable by others",
       [](const std::string &, const std::string &record) {
         ASSERT_EQ(::chmod(record.c_str(), 0602), 0);
       }},
      {"a link to a good record",
       [](const std::string &dir, const std::string &record) {
         ASSERT_EQ(::rename(record.c_str(), (dir + "real.bin").c_str()), 0);
         ASSERT_EQ(::symlink((dir + "real.bin").c_str(), record.c_str()), 0);
       }},
      {"a file with a second name",
       [](const std::string &dir, const std::string &record) {
         ASSERT_EQ(::link(record.c_str(), (dir + "other.bin").c_str()), 0);
       }},
      {"of another layout",
       [](const std::string &, const std::string &record) {
         const UniqueFd fd(::open(record.c_str(), O_WRONLY));
         ASSERT_EQ(::pwrite(fd.Get(), "kestrane checked tiles 2", 24, 0), 24);
       }},
      {"owned by another user",
       [](const std::string &, const std::string &record) {
         if (::geteuid() != 0)
           GTEST_SKIP() << "giving a file away needs root";
         ASSERT_EQ(::chown(record.c_str(), 65534, 65534), 0);
       }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.What);
    TempDir dir;
    const std::string record = dir.Path() + "t_checked.bin";
    StoreRecorded(dir.Path(), "a.jpg", record);
    row.Make(dir.Path(), record);
    if (::testing::Test::IsSkipped())
      return;
    EXPECT_EQ(CheckedTiles::Read(record).Size(), 0u);
    EXPECT_FALSE(Vouched(record, dir.Path() + "a.jpg"));
    EXPECT_FALSE(CheckedTileRecord(record).Open());
  }
}

// The eight workers of a run open the record that the task's files came
// with at once, and each records its tiles.
TEST(CheckedTiles, EveryWorkerOfARunRecords) {
  for (int round = 0; round < 20; ++round) {
    TempDir dir;
    const std::string record = dir.Path() + "t_checked.bin";
    CreateCheckedTiles(record);
    std::vector<std::thread> workers;
    for (int w = 0; w < 8; ++w)
      workers.emplace_back([&dir, &record, w] {
        StoreRecorded(dir.Path(), std::to_string(w) + ".jpg", record,
                      kBytes + std::to_string(w));
      });
    for (std::thread &t : workers)
      t.join();
    ASSERT_EQ(CheckedTiles::Read(record).Size(), 8u) << "round " << round;
  }
}

TEST(CheckedTiles, ReadsWholeEntriesUpToItsBound) {
  TempDir dir;
  const std::string record = dir.Path() + "t_checked.bin";
  StoreRecorded(dir.Path(), "a.jpg", record);
  StoreRecorded(dir.Path(), "b.jpg", record, kBytes + "b");
  StoreRecorded(dir.Path(), "c.jpg", record, kBytes + "c");
  struct stat st {};
  ASSERT_EQ(::stat(record.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 4 * 32); // the header once, whoever opened it
  EXPECT_EQ(CheckedTiles::Read(record).Size(), 3u);
  EXPECT_EQ(CheckedTiles::Read(record, 2).Size(), 2u);
  // A torn last entry, as a full disk or a power cut leaves it, is left
  // out; the entries before it still hold.
  PutBytes(record, GetBytes(record) + std::string(31, '\x7f'));
  ASSERT_EQ(::chmod(record.c_str(), 0600), 0);
  EXPECT_EQ(CheckedTiles::Read(record).Size(), 3u);
  EXPECT_TRUE(Vouched(record, dir.Path() + "c.jpg"));
  EXPECT_EQ(CheckedTiles::Read(dir.Path() + "missing.bin").Size(), 0u);
}

} // namespace
} // namespace kestrane
