#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/NumberFormat.h"
#include "platform/OutputChecks.h"
#include "task/DownloadTask.h"
#include "task/TaskFiles.h"
#include "tests/core/task/TaskTestSupport.h"

namespace kestrane {
namespace {

using tasktest::CrLf;
using tasktest::ExampleParams;
using tasktest::Exists;
using tasktest::FixedEnvironment;
using tasktest::GetBytes;
using tasktest::PutBytes;
using tasktest::SetBlock;
using tasktest::SplitCrLf;
using tasktest::TempDir;

const char kHeader[] =
    "ImageFileName    Left_Edge_Longitude    Right_Edge_Longitude   "
    "Top_Edge_Latitude      Bottom_Edge_Latitude";

// A tile line built the slow, obvious way, to hold the writer's fast one
// against.
std::string SlowLine(const DownloadTask &t, int32_t x, int32_t y) {
  const int32_t z = t.Params.Zoom;
  return t.TileFileName(x, y) + ": " +
         FormatFixed20_14(TileXToLongitude(x, z)) + " " +
         FormatFixed20_14(TileXToLongitude(x + 1.0, z)) + " " +
         FormatFixed20_14(TileYToLatitude(y + 1.0, z)) + " " +
         FormatFixed20_14(TileYToLatitude(y, z));
}

std::string ListFile(const DownloadTask &t, int k) {
  return t.ListFilePath + std::to_string(k) + ".txt";
}

TEST(WriteTileListTest, ReferenceTileLineExactly) {
  TempDir dir;
  const TaskParameters p = ExampleParams(dir.Path());
  const DownloadTask t(p);
  WriteTileList(t);
  EXPECT_EQ(ListFile(t, 1), dir.Path() + "newtask_list.txt1.txt");
  const std::vector<std::string> lines = SplitCrLf(GetBytes(ListFile(t, 1)));
  ASSERT_EQ(lines.size(), 109u);
  EXPECT_EQ(lines.front(), kHeader);
  // The last column's northernmost tile comes last.
  EXPECT_EQ(lines.back(), "ks_41994_170596_18.jpg:  -122.33001708984375  "
                          "-122.32864379882812    47.61079236060621    "
                          "47.60986653003798");
  // Column by column, south to north within a column.
  EXPECT_EQ(lines[1], SlowLine(t, 41986, 170585));
  EXPECT_EQ(lines[2], SlowLine(t, 41986, 170586));
  EXPECT_EQ(lines[13], SlowLine(t, 41987, 170585));
}

struct ChunkCase {
  const char *what;
  int32_t x0, x1, y0, y1;
  std::vector<size_t> fileLines; // lines of file 1, 2, ... (header included)
};

void PrintTo(const ChunkCase &c, std::ostream *os) {
  *os << c.what;
}

class WriteTileListChunkTest : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(WriteTileListChunkTest, FilesAndLines) {
  const ChunkCase &c = GetParam();
  TempDir dir;
  TaskParameters p = ExampleParams(dir.Path());
  SetBlock(p, 18, c.x0, c.x1, c.y0, c.y1);
  const DownloadTask t(p);
  WriteTileList(t);
  int32_t x = t.MinX, y = t.MinY;
  for (size_t k = 1; k <= c.fileLines.size(); ++k) {
    SCOPED_TRACE("file " + std::to_string(k));
    const std::string bytes = GetBytes(ListFile(t, static_cast<int>(k)));
    ASSERT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    const std::vector<std::string> lines = SplitCrLf(bytes);
    ASSERT_EQ(lines.size(), c.fileLines[k - 1]);
    EXPECT_EQ(lines[0], kHeader);
    // Every line as the slow formatting gives it, in the walking order.
    for (size_t i = 1; i < lines.size(); ++i) {
      ASSERT_EQ(lines[i], SlowLine(t, x, y)) << "line " << i + 1;
      if (++y > t.MaxY) {
        y = t.MinY;
        ++x;
      }
    }
  }
  EXPECT_EQ(x, t.MaxX + 1); // every tile listed
  EXPECT_FALSE(Exists(ListFile(t, static_cast<int>(c.fileLines.size()) + 1)));
  // The size the disk is asked for is the size written.
  uint64_t written = 0;
  for (size_t k = 1; k <= c.fileLines.size(); ++k)
    written += std::filesystem::file_size(ListFile(t, static_cast<int>(k)));
  EXPECT_EQ(TileListBytes(t), written);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, WriteTileListChunkTest,
    ::testing::Values(
        // exactly one chunk: one file, no empty second one
        ChunkCase{"65536 tiles", 41000, 41255, 100000, 100255, {65537}},
        // one tile over: the second file holds the header and that tile
        ChunkCase{"65537 tiles", 100000, 165536, 100000, 100000, {65537, 2}},
        // rows taller than a chunk: latitudes are not cached per row
        ChunkCase{"one tall column", 5000, 5000, 100000, 165536, {65537, 2}},
        // names of one more digit within the block
        ChunkCase{"numbers gaining a digit", 95, 104, 99995, 100004, {101}},
        ChunkCase{
            "columns of one and two digits", 3, 12, 131000, 131002, {31}}),
    [](const auto &info) { return "Case" + std::to_string(info.index); });

TEST(WriteTileListTest, NoListForOtherDirectionsOrContinuedTasks) {
  struct Row {
    const char *what;
    int32_t dir;
    bool continueTask;
  };
  const Row rows[] = {
      {"East", 1, false},
      {"South", 2, false},
      {"West", 3, false},
      {"continued North", 0, true},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    TempDir dir;
    TaskParameters p = ExampleParams(dir.Path(), r.dir);
    p.ContinueTask = r.continueTask;
    PutBytes(dir.Path() + "newtask_list.txt2.txt", "earlier run\r\n");
    const DownloadTask t(p);
    WriteTileList(t);
    EXPECT_FALSE(Exists(ListFile(t, 1)));
    EXPECT_EQ(GetBytes(ListFile(t, 2)), "earlier run\r\n");
    EXPECT_EQ(TileListBytes(t), 0u);
  }
}

// The tile lists of the largest North block a task holds (about 230 GB) are
// refused before any of the task's files is written, with both sizes, when
// the disk has less room than that.
TEST(WriteTaskFilesTest, ListsLargerThanTheDiskAreRefusedBeforeAnyFile) {
  TempDir dir;
  TaskParameters p = ExampleParams(dir.Path());
  SetBlock(p, 17, 10000, 10000 + 46339, 20000, 20000 + 46339);
  const DownloadTask t(p);
  const uint64_t bytes = TileListBytes(t);
  EXPECT_GT(bytes, uint64_t{200} * 1000 * 1000 * 1000);
  const std::optional<uint64_t> free = FreeDiskBytes(dir.Path());
  ASSERT_TRUE(free);
  if (*free >= bytes)
    GTEST_SKIP() << "the disk has room for " << bytes << " bytes";
  try {
    WriteTaskFiles(t);
    ADD_FAILURE() << "written";
  } catch (const KError &e) {
    EXPECT_EQ(e.Cause(), ErrorCause::CannotWrite);
    // The disk's room is asked again; others may write meanwhile.
    EXPECT_EQ(std::string(e.what()).rfind(
                  "Cannot create file " + ListFile(t, 1) + ": it needs " +
                      SizeText(bytes) + ", and the disk has ",
                  0),
              0u)
        << e.what();
  }
  EXPECT_EQ(dir.Names(), std::vector<std::string>{});
}

std::vector<std::string> ReferenceLogHeader(const std::string &path,
                                            std::time_t now) {
  return {
      "Project: " + path + "newtask.ktsk",
      "Now time is:" + FormatShortDateLongTime(now),
      "",
      "[MapsType]",
      "MapsType=21",
      "",
      "Left Longitude  input= -122.34",
      "Right Longitude input= -122.33",
      "Top Latitude    input= 47.61",
      "Bottom Latitude input= 47.6",
      "",
      "MinX = 41986",
      "MinY = 170585",
      "MaxX = 41994",
      "MaxY = 170596",
      "",
      "Left Longitude  download=-122.341003417969",
      "Right Longitude download=-122.328643798828",
      "Top Latitude    download=47.6107923606062",
      "Bottom Latitude download=47.5996813120644",
      "",
      "All images' scope information are saved to " + path + "newtask_list.txt",
      "",
      "Total count of images would be downloaded: 108",
      "",
      "Download threads count: 8",
      "",
      "Zoom level: 18",
      "",
      "Dir=0",
      "",
      "path: " + path,
      "",
      "Start downloading...",
      "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~",
  };
}

TEST(WriteLogHeaderTest, NewTaskWithoutProxyHas35Lines) {
  TempDir dir;
  const TaskParameters p = ExampleParams(dir.Path());
  const DownloadTask t(p, FixedEnvironment(1700000000));
  WriteLogHeader(t);
  const std::vector<std::string> expected =
      ReferenceLogHeader(dir.Path(), 1700000000);
  ASSERT_EQ(expected.size(), 35u);
  EXPECT_EQ(GetBytes(t.LogFilePath), CrLf(expected));
}

TEST(WriteLogHeaderTest, ProxyLinesWithPasswordMasked) {
  struct Row {
    const char *what;
    const char *password;
    const char *line11;
  };
  const Row rows[] = {
      // a password set: the log shows that one is, never what it is
      {"password set", "s3cret pass", "ProxyPassword:********"},
      // no password: nothing after the colon
      {"no password", "", "ProxyPassword:"},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    TempDir dir;
    TaskParameters p = ExampleParams(dir.Path());
    p.Proxy.UseProxy = true;
    p.Proxy.ProxyServer = "127.0.0.1";
    p.Proxy.ProxyPort = "8888";
    p.Proxy.ProxyUsername = "kuser";
    p.Proxy.ProxyPassword = r.password;
    const DownloadTask t(p, FixedEnvironment(1700000000));
    WriteLogHeader(t);
    std::vector<std::string> expected =
        ReferenceLogHeader(dir.Path(), 1700000000);
    expected.insert(expected.begin() + 6,
                    {"Using Proxy:", "Proxy Server:127.0.0.1",
                     "Proxy Port:8888", "ProxyUsername:kuser", r.line11, ""});
    ASSERT_EQ(expected.size(), 41u);
    const std::string bytes = GetBytes(t.LogFilePath);
    EXPECT_EQ(bytes, CrLf(expected));
    if (*r.password) {
      EXPECT_EQ(bytes.find(r.password), std::string::npos);
    }
  }
}

TEST(WriteLogHeaderTest, ContinuationAddsThreeLinesAndKeepsTheRest) {
  TempDir dir;
  TaskParameters p = ExampleParams(dir.Path());
  p.ContinueTask = true;
  const std::string earlier = CrLf(ReferenceLogHeader(dir.Path(), 1600000000)) +
                              "T1 ks_41986_170585_18.jpg saved\r\n";
  PutBytes(dir.Path() + "newtask_log.txt", earlier);
  const DownloadTask t(p, FixedEnvironment(1700000000));
  WriteLogHeader(t);
  EXPECT_EQ(GetBytes(t.LogFilePath),
            earlier +
                CrLf({"--------------------------------------------",
                      "Log continue...",
                      "Now time is:" + FormatShortDateLongTime(1700000000)}));
}

TEST(WriteLogHeaderTest, ContinuationWithoutLogFails) {
  TempDir dir;
  TaskParameters p = ExampleParams(dir.Path());
  p.ContinueTask = true;
  const DownloadTask t(p, FixedEnvironment());
  try {
    WriteLogHeader(t);
    FAIL() << "a missing log was taken as empty";
  } catch (const KError &e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + t.LogFilePath);
  }
  EXPECT_FALSE(Exists(t.LogFilePath)); // not recreated behind the user's back
}

TEST(TaskFilesTest, UnwritableFolderReportsTheFile) {
  TempDir dir;
  const TaskParameters p = ExampleParams(dir.Path());
  const DownloadTask t(p);
  // A folder where the list file belongs makes its write fail.
  std::filesystem::create_directory(t.ListFilePath + "1.txt");
  try {
    WriteTileList(t);
    FAIL() << "the failed write was not reported";
  } catch (const KError &e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file " + t.ListFilePath + "1.txt");
  }
}

} // namespace
} // namespace kestrane
