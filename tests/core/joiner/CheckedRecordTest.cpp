// The joiner carries the tiles the workers' record shows were checked as
// they were stored, without decoding them again, and decodes every other:
// a tile changed since, or any tile when the record is not the user's own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/UniqueFd.h"
#include "tests/core/joiner/JoinTestSupport.h"
#include "tests/support/Tamper.h"
#include "tile/CheckedTiles.h"
#include "tile/TileStore.h"

namespace kestrane {
namespace {

using tasktest::GetBytes;
using tasktest::PutBytes;
using tasktest::TempDir;

// A North block of 4 x 3 tiles stored as the workers store them: through
// the folder's handle, each entered in the record of checked tiles.
struct RecordedBlock : jointest::JoinFixture {
  explicit RecordedBlock(const std::string &folder) : JoinFixture(folder, 0) {
    const UniqueFd fd = OpenFolder(task->TileFolder);
    CreateCheckedTiles(task->CheckedFilePath);
    CheckedTileRecord record(task->CheckedFilePath);
    for (int32_t y = task->MinY; y <= task->MaxY; ++y)
      for (int32_t x = task->MinX; x <= task->MaxX; ++x) {
        const std::string bytes = GetBytes(task->TilePath(x, y));
        FileStamp placed;
        EXPECT_TRUE(StoreTileFile(fd.Get(), task->TileFileName(x, y), bytes,
                                  nullptr, &placed));
        record.Add(placed, bytes);
      }
  }
  std::string FirstTile() const {
    return task->TilePath(task->MinX, task->MinY);
  }
};

TEST(JoinerCheckedRecord, DecodesWhatTheRecordDoesNotVouchFor) {
  struct Row {
    const char *What;
    std::function<void(const RecordedBlock &)> Change;
    int64_t CheckedBefore, Carried, Damaged;
  };
  const std::vector<Row> rows = {
      {"every tile as stored", [](const RecordedBlock &) {}, 12, 12, 0},
      {"a tile damaged in place, its times put back",
       [](const RecordedBlock &b) {
         test::OverwriteKeepingTimes(b.FirstTile());
       },
       11, 11, 1},
      {"no record",
       [](const RecordedBlock &b) {
         ASSERT_EQ(std::remove(b.task->CheckedFilePath.c_str()), 0);
       },
       0, 12, 0},
      // Whoever may write the record may enter a damaged tile in it.
      {"a damaged tile entered in a record others may write",
       [](const RecordedBlock &b) {
         const std::string damaged = "\xFF\xD8 no picture";
         PutBytes(b.FirstTile(), damaged);
         struct stat st {};
         ASSERT_EQ(::stat(b.FirstTile().c_str(), &st), 0);
         CheckedTileRecord(b.task->CheckedFilePath).Add(StampOf(st), damaged);
         ASSERT_EQ(::chmod(b.task->CheckedFilePath.c_str(), 0622), 0);
       },
       0, 11, 1},
  };
  for (const char *out : {"j.tif", "j.mbtiles"})
    for (const Row &row : rows) {
      SCOPED_TRACE(std::string(row.What) + ", " + out);
      TempDir dir;
      const RecordedBlock block(dir.Path());
      row.Change(block);
      const JoinResult r = block.Join(dir.Path() + out);
      EXPECT_EQ(r.CheckedBefore, row.CheckedBefore);
      EXPECT_EQ(r.Carried, row.Carried);
      EXPECT_EQ(r.Damaged, row.Damaged);
      const bool shown = r.Lines()[4].starts_with("Checked when downloaded: ");
      EXPECT_EQ(shown, row.CheckedBefore > 0);
    }
}

} // namespace
} // namespace kestrane
