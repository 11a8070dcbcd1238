#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "control/TaskControl.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Ini.h"
#include "tests/core/control/ControlRig.h"
#include "tests/support/KilledWriter.h"

namespace kestrane::controltest {
namespace {

using Seconds = std::chrono::duration<double>;

double Since(std::chrono::steady_clock::time_point t0) {
  return Seconds(std::chrono::steady_clock::now() - t0).count();
}

const char kProjectKeys[] = "[AREA]\r\nLeftLongitude=116.25\r\n"
                            "RightLongitude=116.26\r\nTopLatitude=39.91\r\n"
                            "BottomLatitude=39.90\r\n[Zoom]\r\nZoom=18\r\n"
                            "[Dir]\r\nDir=2\r\n";

// Opening a project file reads eight keys; the file is parsed once for all
// of them, not once per key. A file just under the bound, of blank lines
// with the keys at its end, makes each parse cost milliseconds: opening
// costs about one key's read, not eight.
TEST(HostileInputTest, OpeningAProjectFileParsesItOnce) {
  TempFolder dir;
  const std::string path = dir.Path() + "blank.ktsk";
  std::string text;
  const size_t keys = sizeof kProjectKeys - 1;
  for (size_t i = 0; i + 2 + keys <= kMaxIniFileBytes; i += 2)
    text += "\r\n";
  text += kProjectKeys;
  ASSERT_LE(text.size(), kMaxIniFileBytes);
  Put(path, text);

  // The fastest of many runs, the two kinds taking turns, so that a busy
  // machine slows both alike.
  OpenedTask t;
  double open = 1e9, oneKey = 1e9;
  for (int run = 0; run < 15; ++run) {
    auto t0 = std::chrono::steady_clock::now();
    t = OpenTaskFile(path);
    open = std::min(open, Since(t0));
    t0 = std::chrono::steady_clock::now();
    IniFile(path).ReadString("Zoom", "Zoom", "");
    oneKey = std::min(oneKey, Since(t0));
  }
  EXPECT_EQ(t.Left, "116.25");
  EXPECT_EQ(t.Bottom, "39.90");
  EXPECT_EQ(t.Zoom, 18);
  EXPECT_EQ(t.Dir, 2);
  std::printf("open of a %zu-byte project file: %.2f ms; one key: %.2f ms\n",
              text.size(), open * 1e3, oneKey * 1e3);
  EXPECT_LT(open, 4 * oneKey) << "the file is parsed once per key";
}

// Larger than any project file the program writes: refused with the
// read-failure text at once, before its 20 MB are read even once.
TEST(HostileInputTest, HugeProjectFileIsRefusedAtOnce) {
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

// Start clears the temporary files that a killed run left, and nothing
// else: only names of the program's own form, only of processes gone, only
// in the task's output and tile folders.
TEST(HostileInputTest, StartRemovesOnlyItsOwnStaleTemporaries) {
  ControlRig rig;
  ::mkdir(rig.Out().c_str(), 0777);
  ::mkdir((rig.Out() + "t/").c_str(), 0777);
  const std::string dead = ".kestrane-tmp-4194999-0.part"; // above pid_max
  const std::string live =
      ".kestrane-tmp-" + std::to_string(::getpid()) + "-7.part";
  struct Row {
    std::string path;
    bool stays;
  };
  const Row rows[] = {
      {rig.Out() + "budget.xls.tmp99999.1", true}, // the user's file
      // The temporary list a killed audit left is the program's own.
      {testing::LeaveKilledWritersTemporary(rig.Out() + "t_missing.ftl"),
       false},
      {rig.Out() + "t/ks_1_1_18.jpg.tmp99999.0", true},
      {rig.Out() + dead, false},
      {rig.Out() + "t/" + dead, false},
      {rig.Out() + live, true}, // its writer still runs
      {rig.Dir() + dead, true}, // not a folder of the task
      {rig.Out() + "t/x" + dead, true},
  };
  for (const Row &r : rows)
    Put(r.path, "x");
  ASSERT_TRUE(rig.Control().Start(rig.Fields(kOneTile)));
  ASSERT_GT(rig.RunToEnd(), 0);
  for (const Row &r : rows)
    EXPECT_EQ(FileExists(r.path), r.stays) << r.path;
}

} // namespace
} // namespace kestrane::controltest
