// The joiner decodes with the workers' bounds and takes only what passes
// their check: a hostile body costs bounded time, a stop request is
// honoured at once, a body that does not decode or a link under a tile's
// name is damaged; a block too large for one picture is refused at the
// start, and an output is never put over what is not a regular file.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "inventory/TaskInventory.h"
#include "joiner/TileCodec.h"
#include "joiner/TileJoiner.h"
#include "sample/TileImage.h"
#include "task/TaskFiles.h"
#include "tests/core/joiner/JoinTestSupport.h"
#include "tests/core/task/TaskTestSupport.h"
#include "tests/support/HostileTiles.h"
#include "tile/TileCheck.h"

namespace kestrane {
namespace {

using tasktest::GetBytes;
using tasktest::PutBytes;
using tasktest::SetBlock;
using tasktest::TempDir;
using Clock = std::chrono::steady_clock;

// A North block of `columns` x `rows` tiles.
struct Block : jointest::JoinFixture {
  Block(const std::string &folder, int32_t columns, int32_t rows)
      : JoinFixture(folder, 0, columns, rows) {}
};

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The joiner's decoding takes what the workers' check takes, and nothing
// else: the same bounds of size, scans and decoder memory.
TEST(JoinerBounds, DecodesWhatTheWorkersCheckTakes) {
  RgbTile rgb;
  for (const test::HostileBody &b : test::HostileBodies()) {
    SCOPED_TRACE(b.What);
    ASSERT_EQ(JpegDecodes(b.Bytes), b.Decodes);
    EXPECT_EQ(DecodeTileBody(b.Bytes, rgb), b.Decodes);
  }
  // A stop request leaves a decoding that would succeed.
  StopFlag stop;
  stop.Request();
  const std::string big = hostile::SmoothJpeg(4096, 4096, false);
  EXPECT_FALSE(DecodeTileBody(big, rgb, &stop));
  EXPECT_FALSE(JpegDecodes(big, &stop));
  std::string encoded;
  EXPECT_EQ(PrepareTile(big, TileForm{}, &stop, rgb, encoded),
            TileUse::Cancelled);
}

// Both writers carry a whole tile and count a tile that fails the check
// as damaged, whether it would be carried or encoded again.
TEST(JoinerBounds, PreparedTileByWriterForm) {
  const std::string tile = test::WorkerJpeg(256, 256, false);
  const std::string progressive = test::WorkerJpeg(256, 256, true);
  const std::string small = test::WorkerJpeg(100, 80, false);
  struct Case {
    const char *what;
    std::string bytes;
    TileUse tiff, map;
  };
  const Case cases[] = {
      {"a whole tile", tile, TileUse::Carried, TileUse::Carried},
      {"a whole progressive tile", progressive, TileUse::Reencoded,
       TileUse::Carried},
      {"a smaller picture", small, TileUse::Reencoded, TileUse::Reencoded},
      {"a tile cut short", test::WorkerJpegCutInScan(tile), TileUse::Damaged,
       TileUse::Damaged},
      {"a progressive tile cut short", test::WorkerJpegCutInScan(progressive),
       TileUse::Damaged, TileUse::Damaged},
  };
  const JpegFrame frame = ReadJpegFrame(tile);
  const TileForm tiff{CarryRule::TiffTile, frame.HSampling, frame.VSampling,
                      85};
  const TileForm map{CarryRule::MapTile, 2, 2, 85};
  RgbTile rgb;
  std::string encoded;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(PrepareTile(c.bytes, tiff, nullptr, rgb, encoded), c.tiff);
    EXPECT_EQ(PrepareTile(c.bytes, map, nullptr, rgb, encoded), c.map);
  }
}

// The tile stored in MBTiles at (zoom, x, y) of the task's grid, whose
// rows count from the south as the table's do; empty when there is none.
std::string MbTile(const std::string &path, int zoom, int32_t x, int32_t y) {
  sqlite3 *db = nullptr;
  std::string bytes;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT tile_data FROM tiles WHERE zoom_level = ? AND "
                       "tile_column = ? AND tile_row = ?",
                       -1, &st, nullptr);
    sqlite3_bind_int(st, 1, zoom);
    sqlite3_bind_int(st, 2, x);
    sqlite3_bind_int(st, 3, y); // the task's rows count from the south too
    if (sqlite3_step(st) == SQLITE_ROW)
      bytes.assign(static_cast<const char *>(sqlite3_column_blob(st, 0)),
                   static_cast<size_t>(sqlite3_column_bytes(st, 0)));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return bytes;
}

// Tiles checked on several threads, batch after batch, come back to their
// own places in both formats: 300 tiles on 3 threads (two batches), with
// damaged and missing tiles scattered among them.
TEST(JoinerBounds, CheckedTilesKeepTheirPlaces) {
  TempDir dir;
  const Block b(dir.Path(), 20, 15);
  const DownloadTask &t = *b.task;
  std::map<std::pair<int32_t, int32_t>, TileState> problems;
  for (int32_t k = 0; k < 300; k += 37) {
    const int32_t x = 1000 + k % 20, y = 2000 + k / 20;
    if (k % 2 == 0) {
      PutBytes(t.TilePath(x, y),
               test::WorkerJpegCutInScan(GetBytes(t.TilePath(x, y))));
      problems[{x, y}] = TileState::Damaged;
    } else {
      std::filesystem::remove(t.TilePath(x, y));
      problems[{x, y}] = TileState::Missing;
    }
  }
  JoinOptions o;
  o.Threads = 3;
  const std::string cog = dir.Path() + "j.tif", mb = dir.Path() + "j.mbtiles";
  for (const std::string &out : {cog, mb}) {
    const JoinResult r = b.Join(out, o);
    EXPECT_EQ(r.Carried, 300 - static_cast<int64_t>(problems.size())) << out;
    EXPECT_EQ(r.Damaged + r.Missing, static_cast<int64_t>(problems.size()));
  }
  jointest::Dataset ds(cog);
  ASSERT_NE(ds.ds, nullptr);
  GDALRasterBandH band = GDALGetRasterBand(ds.ds, 1);
  for (int32_t y = t.MinY; y <= t.MaxY; ++y)
    for (int32_t x = t.MinX; x <= t.MaxX; ++x) {
      SCOPED_TRACE(std::to_string(x) + " " + std::to_string(y));
      const ViewCell cell = ViewPlacement(t, x, y);
      const int px = static_cast<int>(cell.Column) * 256;
      const int py = static_cast<int>(cell.Row) * 256;
      if (problems.count({x, y}) != 0) {
        EXPECT_TRUE(jointest::All(jointest::ReadMask(band, px, py, 256), 0));
        EXPECT_EQ(MbTile(mb, 12, x, y), "");
        continue;
      }
      EXPECT_EQ(MbTile(mb, 12, x, y), GetBytes(t.TilePath(x, y)));
      if ((x + y) % 7 == 0) { // the pixels of a sample of them
        EXPECT_EQ(jointest::ReadArea(ds.ds, px, py, 256),
                  jointest::DecodedTile(t.TilePath(x, y)));
      }
    }
}

// A 296 KB 8192 x 8192 progressive JPEG whose last scan repeats 1000 times
// in the tile folder: the join, to either format, takes well under 3 s of
// CPU, the tile is damaged and the join is not complete (tilejoin's exit
// status 1).
TEST(JoinerBounds, ScanBombIsDamagedInBoundedTime) {
  TempDir dir;
  const Block b(dir.Path(), 4, 3);
  const std::string bomb =
      hostile::RepeatLastScan(hostile::FlatProgressiveJpeg(8192, 8192), 1000);
  PutBytes(b.task->TilePath(1001, 2001), bomb);
  for (const std::string &out : {std::string(), dir.Path() + "j.mbtiles"}) {
    SCOPED_TRACE(out);
    const double before = CpuSeconds();
    const JoinResult r = b.Join(out);
    const double cpu = CpuSeconds() - before;
    EXPECT_LT(cpu, 3.0);
    EXPECT_EQ(r.Damaged, 1);
    EXPECT_EQ(r.Joined(), 11);
    EXPECT_FALSE(r.Complete());
  }
}

// Bodies the TIFF could hold as they are, which parse but fail the
// workers' check, and links under a tile's name: each damaged, no data in
// the picture, never carried in.
TEST(JoinerBounds, WhatFailsTheCheckOrIsALinkIsDamaged) {
  TempDir dir;
  const Block b(dir.Path(), 4, 3);
  const DownloadTask &t = *b.task;
  const std::string good = GetBytes(t.TilePath(1000, 2000));
  ASSERT_TRUE(CarriesAsTile(ReadJpegFrame(good), 2, 2));
  std::string badTable = good; // the first component's quantization table 3
  const size_t sof = badTable.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  badTable[sof + 12] = 3;
  std::string badHuffman = good; // more codes than a table can have
  const size_t dht = badHuffman.find("\xFF\xC4");
  ASSERT_NE(dht, std::string::npos);
  badHuffman[dht + 5 + 15] = static_cast<char>(0xFF);
  PutBytes(dir.Path() + "outside.jpg", good);
  const struct {
    const char *what;
    int32_t x, y;
    std::string bytes; // empty: a link to `target`
    std::string target;
  } rows[] = {
      {"no such quantization table", 1001, 2000, badTable, ""},
      {"a bogus Huffman table", 1002, 2000, badHuffman, ""},
      {"a link to another tile", 1003, 2000, "", t.TilePath(1000, 2000)},
      {"a link to a JPEG outside", 1001, 2001, "", dir.Path() + "outside.jpg"},
      {"a dangling link", 1002, 2001, "", dir.Path() + "gone.jpg"},
  };
  for (const auto &row : rows) {
    const std::string path = t.TilePath(row.x, row.y);
    if (row.bytes.empty()) {
      std::filesystem::remove(path);
      std::filesystem::create_symlink(row.target, path);
    } else {
      ASSERT_TRUE(CarriesAsTile(ReadJpegFrame(row.bytes), 2, 2)) << row.what;
      ASSERT_FALSE(JpegDecodes(row.bytes)) << row.what;
      PutBytes(path, row.bytes);
    }
  }
  // Each format's writer alike.
  for (const std::string &out : {std::string(), dir.Path() + "j.mbtiles"}) {
    SCOPED_TRACE(out);
    const JoinResult r = b.Join(out);
    EXPECT_EQ(r.Damaged, 5);
    EXPECT_EQ(r.Carried, 7);
    EXPECT_EQ(r.Reencoded + r.Missing + r.Placeholder, 0);
  }
  EXPECT_EQ(GetBytes(dir.Path() + "outside.jpg"), good);
}

// A stop request while tiles that cost time to decode are joined ends the
// join within half a second, leaving no picture.
TEST(JoinerBounds, StopIsHonouredWithinHalfASecond) {
  TempDir dir;
  const Block b(dir.Path(), 2, 2);
  // Each tile about two seconds of decoding within the bounds: the stop
  // must reach into the decoding.
  const std::string slow = hostile::SlowestAllowedJpeg();
  for (int32_t y = 2000; y <= 2001; ++y)
    for (int32_t x = 1000; x <= 1001; ++x)
      PutBytes(b.task->TilePath(x, y), slow);
  StopFlag stop;
  Clock::time_point requested{};
  std::thread stopper;
  JoinOptions o;
  o.Cancel = &stop;
  o.Progress = [&](JoinPhase phase, int64_t done, int64_t) {
    if (phase == JoinPhase::Joining && done == 0 && !stopper.joinable())
      stopper = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        requested = Clock::now();
        stop.Request();
      });
  };
  const std::vector<std::string> before = dir.Names();
  const JoinResult r = b.Join("", o);
  const Clock::time_point ended = Clock::now();
  stopper.join();
  EXPECT_TRUE(r.Cancelled);
  EXPECT_LT(std::chrono::duration<double>(ended - requested).count(), 0.5);
  EXPECT_EQ(dir.Names(), before);
}

// A block of more tiles than the joiner holds is refused before its tile
// folder is looked at, with the limit in the message, in either format.
TEST(JoinerBounds, BlockLargerThanAPictureIsRefusedAtTheStart) {
  struct Case {
    int dir;
    const char *output;
  };
  for (const Case &c : {Case{1, "huge.tif"}, Case{0, "huge.mbtiles"}}) {
    SCOPED_TRACE(c.output);
    TempDir dir;
    TaskParameters p;
    p.Path = dir.Path();
    p.TaskFileName = "huge.ktsk";
    p.Dir = c.dir;
    SetBlock(p, 17, 10000, 10000 + 23999, 20000, 20000 + 23999);
    const DownloadTask task(p);
    ASSERT_GT(task.TotalCount, kMaxJoinTiles);
    WriteProjectFile(task);
    const Clock::time_point start = Clock::now();
    try {
      JoinTiles(dir.Path() + "huge.ktsk", dir.Path() + c.output);
      ADD_FAILURE() << "joined";
    } catch (const KError &e) {
      EXPECT_EQ(e.Cause(), ErrorCause::InputRefused);
      EXPECT_EQ(std::string(e.what()),
                "Cannot create file " + dir.Path() + c.output +
                    ": a picture of " + std::to_string(task.TotalCount) +
                    " tiles is more than the joiner writes within 256 MB of "
                    "memory (at most " +
                    std::to_string(kMaxJoinTiles) + " tiles)");
    }
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"huge.ktsk"});
  }
}

// The picture is never put over a FIFO, a device or the task's log, named
// at the start or put there while the join runs.
TEST(JoinerBounds, PictureNeverReplacesWhatIsNoRegularFile) {
  TempDir dir;
  const Block b(dir.Path(), 2, 2);
  const std::string d = dir.Path();
  ASSERT_EQ(::mkfifo((d + "fifo.tif").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/null", d + "null.tif");
  const std::string log = GetBytes(b.task->LogFilePath);
  for (const std::string &out :
       {d + "fifo.tif", d + "null.tif", b.task->LogFilePath}) {
    SCOPED_TRACE(out);
    try {
      b.Join(out);
      ADD_FAILURE() << "joined";
    } catch (const KError &e) {
      EXPECT_EQ(e.Cause(), ErrorCause::InputRefused);
    }
  }
  EXPECT_EQ(GetBytes(b.task->LogFilePath), log);
  EXPECT_TRUE(std::filesystem::is_symlink(d + "null.tif"));

  // A FIFO put at the output while the overviews are built.
  JoinOptions o;
  o.Progress = [&](JoinPhase phase, int64_t, int64_t) {
    if (phase == JoinPhase::Overviews && !std::filesystem::exists(d + "p.tif"))
      ::mkfifo((d + "p.tif").c_str(), 0600);
  };
  EXPECT_THROW(b.Join(d + "p.tif", o), KError);
  struct stat st {};
  ASSERT_EQ(::lstat((d + "p.tif").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(std::filesystem::symlink_status(d + "fifo.tif").type(),
            std::filesystem::file_type::fifo);
}

} // namespace
} // namespace kestrane
