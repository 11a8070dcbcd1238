// "Open task ...": a project file's fields read back, bounded, and a task
// opened so continued by Start.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "control/TaskControl.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Ini.h"
#include "tests/core/control/ControlRig.h"

namespace kestrane::controltest {
namespace {

const char kProjectKeys[] = "[AREA]\r\nLeftLongitude=116.25\r\n"
                            "RightLongitude=116.26\r\nTopLatitude=39.91\r\n"
                            "BottomLatitude=39.90\r\n[Zoom]\r\nZoom=18\r\n"
                            "[Dir]\r\nDir=2\r\n";

double Since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0)
      .count();
}

// A file just under the bound, of blank lines with the keys at its end,
// opens with every key. (That it is parsed once, not once per key, is
// measured by bench/bench_open_task.)
TEST(OpenTaskFileTest, FileJustUnderTheBoundOpensWithItsKeys) {
  TempFolder dir;
  const std::string path = dir.Path() + "blank.ktsk";
  std::string text;
  const size_t keys = sizeof kProjectKeys - 1;
  for (size_t i = 0; i + 2 + keys <= kMaxIniFileBytes; i += 2)
    text += "\r\n";
  text += kProjectKeys;
  ASSERT_LE(text.size(), kMaxIniFileBytes);
  Put(path, text);
  const OpenedTask t = OpenTaskFile(path);
  EXPECT_EQ(t.Left, "116.25");
  EXPECT_EQ(t.Bottom, "39.90");
  EXPECT_EQ(t.Zoom, 18);
  EXPECT_EQ(t.Dir, 2);
}

TEST(OpenTaskFileTest, ReadsTheFieldsWithTheirDefaults) {
  TempFolder dir;
  struct Row {
    const char *what;
    std::string content;
    std::string left, right, top, bottom;
    int zoom, dirIndex;
  } rows[] = {
      {"a project file looking South",
       "[AREA]\r\nLeftLongitude=-122.34\r\nRightLongitude=-122.33\r\n"
       "TopLatitude=47.61\r\nBottomLatitude=47.6\r\n[Zoom]\r\nZoom=18\r\n"
       "[Dir]\r\nDir=2\r\n",
       "-122.34", "-122.33", "47.61", "47.6", 18, 2},
      // Written where the separator is a comma: shown as stored.
      {"comma coordinates",
       "[AREA]\r\nLeftLongitude=116,25\r\nRightLongitude=116,5\r\n"
       "TopLatitude=39,9\r\nBottomLatitude=39,75\r\n",
       "116,25", "116,5", "39,9", "39,75", 0, 0},
      {"not a project file at all", "just some text\r\n", "", "", "", "", 0, 0},
      {"zoom and direction out of range",
       "[Zoom]\r\nZoom=99\r\n[Dir]\r\nDir=7\r\n", "", "", "", "", 99, 7},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const std::string path = dir.Path() + "my.area.ktsk";
    Put(path, row.content);
    const OpenedTask t = OpenTaskFile(path);
    EXPECT_EQ(t.Left, row.left);
    EXPECT_EQ(t.Right, row.right);
    EXPECT_EQ(t.Top, row.top);
    EXPECT_EQ(t.Bottom, row.bottom);
    EXPECT_EQ(t.Zoom, row.zoom);
    EXPECT_EQ(t.Dir, row.dirIndex);
    EXPECT_EQ(t.Path, dir.Path());
    EXPECT_EQ(t.TaskName, "my.area.ktsk");
  }
}

// Opening a task's file and pressing Start with the fields it gives
// continues that task.
TEST(OpenTaskFileTest, OpenThenStartContinues) {
  ControlRig rig;
  TaskFields typed = rig.Fields(kThreeTiles);
  typed.DirIndex = 2;
  ASSERT_TRUE(rig.Control().Start(typed));
  ASSERT_GT(rig.RunToEnd(), 0);

  const OpenedTask o = OpenTaskFile(rig.Out() + "t.ktsk");
  EXPECT_EQ(o.Dir, 2);
  ASSERT_TRUE(rig.Control().Start(o.Fields()));
  EXPECT_TRUE(rig.Control().CurrentParameters()->ContinueTask);
  EXPECT_TRUE(PaneHas(rig.Control(), "Log continue..."));
  ASSERT_GT(rig.RunToEnd(), 0);
}

// Larger than any project file the program writes: refused with the
// read-failure text at once, before its 20 MB are read even once.
TEST(OpenTaskFileTest, HugeFileIsRefusedAtOnce) {
  TempFolder dir;
  const std::string path = dir.Path() + "huge.ktsk";
  std::string text;
  text.reserve(20u << 20);
  while (text.size() + 2 <= (20u << 20))
    text += "\r\n";
  Put(path, text + kProjectKeys);
  const auto t0 = std::chrono::steady_clock::now();
  try {
    OpenTaskFile(path);
    ADD_FAILURE() << "a 20 MB project file was opened";
  } catch (const KError &e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + path);
  }
  EXPECT_LT(Since(t0), 0.5);
}

} // namespace
} // namespace kestrane::controltest
