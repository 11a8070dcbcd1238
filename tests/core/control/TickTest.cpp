#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "control/TaskControl.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/Ini.h"
#include "tests/core/control/ControlRig.h"

namespace kestrane::controltest {
namespace {

namespace fs = std::filesystem;

const std::string kTaskStoped = "Task stoped!" + std::string(20, ' ');

int CountLines(const std::vector<std::string> &lines, const std::string &l) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), l));
}

// Starts a task whose workers are all held in their first request.
void StartHeld(ControlRig &rig, const Area &area, int workers) {
  rig.Server.Close();
  ASSERT_TRUE(rig.Control().Start(rig.Fields(area)));
  ASSERT_TRUE(rig.DrainUntil([&] { return rig.Server.Waiting() == workers; }));
}

// Fills the log pane up to `lines` lines.
void FillLog(TaskControl &c, size_t lines) {
  for (size_t i = c.LogPane().size(); i < lines; ++i)
    c.AddLogLine("filler " + std::to_string(i));
}

std::vector<std::string> EndLines(std::time_t now, const std::string &logFile) {
  return {"",
          "--------------------------------",
          "Task Stoped!",
          "",
          "Now time:" + FormatShortDateLongTime(now),
          "",
          "Log file has been saved as " + logFile};
}

std::vector<std::string> Tail(const std::vector<std::string> &v, size_t n) {
  return std::vector<std::string>(
      v.end() - static_cast<long>(std::min(n, v.size())), v.end());
}

// The panes reach their files at every fifth tick and not before.
TEST(TickTest, PanesAreSavedEveryFifthTick) {
  ControlRig rig;
  StartHeld(rig, kOneTile, 1);
  TaskControl &c = rig.Control();
  const std::string logFile = c.CurrentTask()->LogFilePath;
  const std::string failedFile = c.CurrentTask()->FailedFilePath;
  const std::vector<std::string> header = FileLines(logFile);
  c.AddLogLine("a line from a worker");
  c.AddFailedLine("/x/ks_1_2_3.jpg|http://h/tiles/svi0");
  for (int tick = 1; tick <= 4; ++tick) {
    c.Tick();
    EXPECT_EQ(FileLines(logFile), header) << "tick " << tick;
    EXPECT_TRUE(FileLines(failedFile).empty()) << "tick " << tick;
  }
  c.Tick();
  EXPECT_EQ(c.TickCount(), 5);
  EXPECT_EQ(FileLines(logFile), c.LogPane());
  EXPECT_EQ(FileLines(failedFile), c.FailedPane());
  EXPECT_EQ(c.FailedPane().size(), 1u);
  EXPECT_TRUE(c.TimerEnabled()); // the worker still runs
}

// Only positions above 0 are written: the tile (5, 0) writes T1X alone.
// The program records positions on a thread of their own; the end of the
// task waits for that, so the file holds the same either way.
class PositionsTest : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(InTickOrInBackground, PositionsTest,
                         ::testing::Bool());

TEST_P(PositionsTest, PositionOfZeroIsNeverWritten) {
  ControlRig rig('.', "", GetParam());
  ASSERT_TRUE(rig.Control().Start(rig.Fields(kTileX5Y0)));
  ASSERT_GT(rig.RunToEnd(), 0);
  const std::vector<std::string> lines = FileLines(rig.Out() + "t.ktsk");
  EXPECT_EQ(CountLines(lines, "T1X=5"), 1);
  EXPECT_EQ(CountLines(lines, "T1Y="), 1);
  EXPECT_EQ(lines.size(), 51u); // values written in place, nothing added
}

// The positions are the workers' last tiles, saved at the fifth tick while
// they run.
TEST(TickTest, FifthTickSavesEachWorkersLastTile) {
  ControlRig rig;
  // Twelve tiles for eight workers: workers 1 to 4 have a second tile, in
  // which they are held; the others are done after their first.
  rig.Server.Close(2);
  ASSERT_TRUE(rig.Control().Start(rig.Fields(kTwelveTiles)));
  TaskControl &c = rig.Control();
  ASSERT_TRUE(rig.DrainUntil(
      [&] { return rig.Server.Waiting() == 4 && c.RunningThreads() == 4; }));
  const IniFile project(rig.Out() + "t.ktsk");
  rig.Ticks(4);
  EXPECT_EQ(project.ReadString("THREADS", "T1X", "none"), "");
  c.Tick();
  EXPECT_TRUE(c.TimerEnabled());
  const DownloadTask &task = *c.CurrentTask();
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    // The tile numbered d belongs to worker d mod 8: worker 0 took tile 8.
    const int seq = i == 0 ? 8 : i;
    const std::string n = std::to_string(i + 1);
    EXPECT_EQ(project.ReadInteger("THREADS", "T" + n + "X", 0),
              task.MinX + seq - 1);
    EXPECT_EQ(project.ReadInteger("THREADS", "T" + n + "Y", 0), task.MinY);
  }
}

TEST(TickTest, LogPaneIsRotatedAtThirtyThousandLines) {
  struct Row {
    size_t lines;
    bool rotated;
  } rows[] = {
      {29999, false}, // one short of the limit: saved as it is
      {30000, true},  // at the limit: moved into a dated part log
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.lines);
    ControlRig rig;
    StartHeld(rig, kOneTile, 1);
    TaskControl &c = rig.Control();
    const std::string logFile = c.CurrentTask()->LogFilePath;
    const std::vector<std::string> atStart = FileLines(logFile);
    FillLog(c, row.lines);
    const std::vector<std::string> full = c.LogPane();
    const std::string partLog = logFile + "." + FormatStamp14(rig.Now) + ".txt";
    rig.Ticks(5);
    if (!row.rotated) {
      EXPECT_EQ(FileLines(logFile), full);
      EXPECT_FALSE(FileExists(partLog));
      EXPECT_EQ(c.LogPane(), full);
      continue;
    }
    EXPECT_EQ(FileLines(partLog), full);
    EXPECT_EQ(c.LogPane(), std::vector<std::string>{"Part log saved to " +
                                                    partLog + "  Continue..."});
    EXPECT_EQ(FileLines(logFile), atStart); // not written at this tick
    ASSERT_FALSE(rig.View.Resets.empty());
    EXPECT_TRUE(rig.View.Resets.back().empty());
    EXPECT_EQ(rig.View.Appended.back(), c.LogPane().back());
    rig.Ticks(5); // the next save replaces the log with the cleared pane
    EXPECT_EQ(FileLines(logFile), c.LogPane());
  }
}

// Two rotations give two part logs; the log keeps only what came after the
// last. The same time stamp twice (a clock set back) must not overwrite the
// first part log.
TEST(TickTest, TwoRotationsKeepBothPartLogs) {
  struct Row {
    const char *what;
    std::time_t step; // clock advance between the rotations
  } rows[] = {{"five seconds apart", 5}, {"the same stamp twice", 0}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    ControlRig rig;
    StartHeld(rig, kOneTile, 1);
    TaskControl &c = rig.Control();
    const std::string logFile = c.CurrentTask()->LogFilePath;

    FillLog(c, 30000);
    const std::vector<std::string> first = c.LogPane();
    rig.Ticks(5);
    const std::string part1 = logFile + "." + FormatStamp14(rig.Now) + ".txt";
    rig.Now += row.step;
    FillLog(c, 30000);
    const std::vector<std::string> second = c.LogPane();
    rig.Ticks(5);
    std::string part2 = logFile + "." + FormatStamp14(rig.Now) + ".txt";
    if (row.step == 0)
      part2 = logFile + "." + FormatStamp14(rig.Now) + "-2.txt";
    EXPECT_NE(part1, part2);
    EXPECT_EQ(FileLines(part1), first);
    EXPECT_EQ(FileLines(part2), second);
    EXPECT_EQ(second.front(), "Part log saved to " + part1 + "  Continue...");

    c.AddLogLine("after the second rotation");
    rig.Server.Open();
    ASSERT_GT(rig.RunToEnd(), 0);
    const std::vector<std::string> log = FileLines(logFile);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.front(), "Part log saved to " + part2 + "  Continue...");
    EXPECT_EQ(log[1], "after the second rotation");
  }
}

// The end of a task: closing lines, both saves, positions, release, the
// button and the message, all at the first tick when the workers are done.
TEST(TickTest, TaskEndingWithinTheFirstTick) {
  ControlRig rig;
  ASSERT_TRUE(rig.Control().Start(rig.Fields(kOneTile)));
  TaskControl &c = rig.Control();
  rig.Now += 3;
  EXPECT_EQ(rig.RunToEnd(), 1);
  const DownloadTask &task = *c.CurrentTask();
  EXPECT_EQ(Tail(c.LogPane(), 7), EndLines(rig.Now, task.LogFilePath));
  EXPECT_EQ(CountLines(c.LogPane(), "T1 Finished."), 1);
  EXPECT_EQ(FileLines(task.LogFilePath), c.LogPane());
  EXPECT_EQ(FileLines(task.FailedFilePath), c.FailedPane());
  const IniFile project(rig.Out() + "t.ktsk");
  EXPECT_EQ(project.ReadInteger("THREADS", "T1X", 0), task.MinX);
  EXPECT_EQ(project.ReadInteger("THREADS", "T1Y", 0), task.MinY);
  EXPECT_EQ(rig.Sink.Texts, std::vector<std::string>{kTaskStoped});
  EXPECT_EQ(c.Caption(), "Start");
  EXPECT_EQ(rig.View.Captions, (std::vector<std::string>{"Stop", "Start"}));
  EXPECT_FALSE(c.TimerEnabled());
  EXPECT_TRUE(c.Threads().empty());
  EXPECT_EQ(c.CurrentTask(), &task); // stays set after the end
  const TaskProgress p = c.Progress();
  EXPECT_EQ(p.Total, 1);
  EXPECT_EQ(p.Stored, 1);
  EXPECT_FALSE(p.EndedEarly);
  // A tick after the end changes nothing.
  const std::vector<std::string> pane = c.LogPane();
  c.Tick();
  EXPECT_EQ(c.LogPane(), pane);
  EXPECT_EQ(rig.Sink.Texts.size(), 1u);
}

// The fifth tick and the end in one tick: the pane is rotated first, then
// the end writes the log with the closing lines.
TEST(TickTest, FifthTickAndEndInTheSameTick) {
  ControlRig rig;
  StartHeld(rig, kOneTile, 1);
  TaskControl &c = rig.Control();
  const std::string logFile = c.CurrentTask()->LogFilePath;
  rig.Ticks(4);
  rig.Server.Open();
  ASSERT_TRUE(rig.WaitWorkersDone());
  FillLog(c, 30000);
  const std::vector<std::string> full = c.LogPane();
  c.Tick();
  EXPECT_FALSE(c.TimerEnabled());
  const std::string partLog = logFile + "." + FormatStamp14(rig.Now) + ".txt";
  EXPECT_EQ(FileLines(partLog), full);
  std::vector<std::string> expected{"Part log saved to " + partLog +
                                    "  Continue..."};
  for (const auto &l : EndLines(rig.Now, logFile))
    expected.push_back(l);
  EXPECT_EQ(FileLines(logFile), expected);
  EXPECT_EQ(rig.Sink.Texts, std::vector<std::string>{kTaskStoped});
}

// Stop asks every worker and logs a line for each; a second Stop does it
// again; the task still ends once.
TEST(TickTest, StopTwiceEndsTheTaskOnce) {
  ControlRig rig;
  StartHeld(rig, kThreeTiles, 3);
  TaskControl &c = rig.Control();
  const std::vector<std::string> stopLines = {
      "Thread1will be terminated by user. please wait...",
      "Thread2will be terminated by user. please wait...",
      "Thread3will be terminated by user. please wait..."};
  c.Stop();
  EXPECT_EQ(Tail(c.LogPane(), 3), stopLines);
  for (const auto &t : c.Threads())
    EXPECT_TRUE(t->Terminated());
  EXPECT_EQ(c.Caption(), "Stop"); // Stop changes nothing else
  EXPECT_TRUE(c.TimerEnabled());
  c.ButtonClick(rig.Fields(kThreeTiles)); // the button while it reads Stop
  EXPECT_EQ(
      Tail(c.LogPane(), 6),
      (std::vector<std::string>{stopLines[0], stopLines[1], stopLines[2],
                                stopLines[0], stopLines[1], stopLines[2]}));
  rig.Server.Open();
  ASSERT_GT(rig.RunToEnd(), 0);
  EXPECT_EQ(CountLines(c.LogPane(), "Task Stoped!"), 1);
  EXPECT_EQ(rig.Sink.Texts, std::vector<std::string>{kTaskStoped});
  // The tiles under way were finished before the workers ended.
  EXPECT_EQ(c.Progress().Stored, 3);
  for (int n = 1; n <= 3; ++n)
    EXPECT_EQ(CountLines(c.LogPane(), "T" + std::to_string(n) + " Finished."),
              1);
  EXPECT_EQ(rig.Server.Requests(), 3);
}

// A pane that cannot be saved adds one line and stays whole; a later save
// writes it. Rows: the log file, the failed-tile list.
TEST(TickTest, PaneThatCannotBeSavedIsKeptAndRetried) {
  for (const bool logBlocked : {true, false}) {
    SCOPED_TRACE(logBlocked ? "log file" : "failed-tile list");
    ControlRig rig;
    StartHeld(rig, kOneTile, 1);
    TaskControl &c = rig.Control();
    const std::string blocked = logBlocked ? c.CurrentTask()->LogFilePath
                                           : c.CurrentTask()->FailedFilePath;
    c.AddFailedLine("/x/ks_1_2_3.jpg|http://h/tiles/svi0");
    // A folder where the file should be: even root cannot replace it.
    fs::remove(blocked);
    fs::create_directory(blocked);
    const std::vector<std::string> before = c.LogPane();
    rig.Ticks(5);
    ASSERT_EQ(c.LogPane().size(), before.size() + 1);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), c.LogPane().begin()));
    const std::string line = c.LogPane().back();
    EXPECT_EQ(line.rfind("Error: cannot save " + blocked + ": ", 0), 0u)
        << line;
    EXPECT_GT(line.size(), ("Error: cannot save " + blocked + ": ").size());
    EXPECT_TRUE(c.TimerEnabled()); // the task goes on

    fs::remove(blocked);
    rig.Server.Open();
    ASSERT_GT(rig.RunToEnd(), 0);
    const std::vector<std::string> log =
        FileLines(c.CurrentTask()->LogFilePath);
    EXPECT_EQ(CountLines(log, line), 1);
    EXPECT_EQ(FileLines(c.CurrentTask()->FailedFilePath), c.FailedPane());
  }
}

// A position tells a later run to skip the worker's tiles up to it, so it
// is saved only when both panes reached their files at the same save: else
// a record held in the failed pane alone would be lost to a crash. Rows:
// the log file, the failed-tile list; in the tick and in the background.
TEST_P(PositionsTest, PositionsWaitUntilBothPanesAreSaved) {
  for (const bool logBlocked : {true, false}) {
    SCOPED_TRACE(logBlocked ? "log file" : "failed-tile list");
    ControlRig rig('.', "", GetParam());
    // Workers 1 to 4 conclude their first tile and are held in the second.
    rig.Server.Close(2);
    TaskControl &c = rig.Control();
    ASSERT_TRUE(c.Start(rig.Fields(kTwelveTiles)));
    ASSERT_TRUE(rig.DrainUntil(
        [&] { return rig.Server.Waiting() == 4 && c.RunningThreads() == 4; }));
    const std::string blocked = logBlocked ? c.CurrentTask()->LogFilePath
                                           : c.CurrentTask()->FailedFilePath;
    fs::remove(blocked);
    fs::create_directory(blocked);
    const std::string project = rig.Out() + "t.ktsk";
    const auto positions = [&] {
      std::string all;
      const IniFile ini(project);
      for (int n = 1; n <= 8; ++n)
        for (const char *axis : {"X", "Y"})
          all +=
              ini.ReadString("THREADS", "T" + std::to_string(n) + axis, "?") +
              ",";
      return all;
    };
    rig.Ticks(5);
    EXPECT_EQ(positions(), std::string(16, ','));
    // Once the pane can be saved again, the next save records them.
    fs::remove(blocked);
    rig.Ticks(5);
    // (A save in the background may take a moment.)
    EXPECT_TRUE(
        rig.DrainUntil([&] { return positions() != std::string(16, ','); }));
    // Worker 2 took the block's first tile.
    EXPECT_EQ(IniFile(project).ReadInteger("THREADS", "T2X", 0),
              c.CurrentTask()->MinX);
  }
}

// A project file that cannot be written does not stop the end of the task;
// the refused write is logged.
TEST_P(PositionsTest, RefusedPositionWriteIsLoggedAndTheTaskEnds) {
  ControlRig rig('.', "", GetParam());
  ASSERT_TRUE(rig.Control().Start(rig.Fields(kOneTile)));
  ASSERT_TRUE(rig.WaitWorkersDone());
  const std::string project = rig.Out() + "t.ktsk";
  fs::remove(project);
  fs::create_directory(project);
  rig.Ticks(1);
  TaskControl &c = rig.Control();
  EXPECT_FALSE(c.TimerEnabled());
  EXPECT_EQ(CountLines(c.LogPane(), "Error: Unable to write to " + project), 1);
  EXPECT_EQ(FileLines(c.CurrentTask()->LogFilePath), c.LogPane());
  EXPECT_EQ(rig.Sink.Texts, std::vector<std::string>{kTaskStoped});
}

// Closing while a task runs: one save of the panes, the workers asked to
// stop and let go of without waiting for them.
TEST(TickTest, SaveAndAbandonDoesNotWaitForTheWorkers) {
  // The workers outlive the call: the rig stays allocated (and reachable)
  // for the rest of the test program, as it would until the process ends.
  static ControlRig *rig = new ControlRig;
  StartHeld(*rig, kThreeTiles, 3);
  TaskControl &c = rig->Control();
  const std::string logFile = c.CurrentTask()->LogFilePath;
  c.AddLogLine("before closing");
  c.AddFailedLine("/x/ks_1_2_3.jpg|http://h/tiles/svi0");
  const std::string failedFile = c.CurrentTask()->FailedFilePath;
  c.SaveAndAbandon(); // returns although every worker is held
  EXPECT_EQ(FileLines(logFile), c.LogPane());
  EXPECT_EQ(FileLines(failedFile), c.FailedPane());
  EXPECT_TRUE(c.Threads().empty());
  EXPECT_FALSE(c.TimerEnabled());
  EXPECT_FALSE(c.Start(rig->Fields(kOneTile, "other.ktsk")));
  // Let the workers run out, so the test program ends cleanly.
  rig->Server.Open();
  EXPECT_TRUE(rig->DrainUntil([&] { return c.RunningThreads() == 0; }));
}

// The rotation limit counts the lines the pane shows: a socket failure's
// text holds a CR LF and shows as two lines.
TEST(TickTest, LogRotationCountsTheLinesEachEntryShows) {
  struct Row {
    const char *what;
    std::string entry;
    size_t shown;   // lines one entry shows
    size_t entries; // the rest of the pane is one-line entries
    size_t total;   // lines the pane shows at the fifth tick
    bool rotated;
  } rows[] = {
      {"CR LF entries reach 30000 shown lines",
       "Socket Error # 10054\r\nConnection reset by peer.", 2, 14000, 30000,
       true},
      {"CR LF entries, one line short", "a\r\nb", 2, 14000, 29999, false},
      {"lone LF and lone CR break lines too", "a\nb\rc", 3, 9000, 30000, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    ControlRig rig;
    rig.Server.Close();
    ASSERT_TRUE(rig.Control().Start(rig.Fields(kOneTile)));
    ASSERT_TRUE(rig.DrainUntil([&] { return rig.Server.Waiting() == 1; }));
    TaskControl &c = rig.Control();
    const size_t oneLine =
        row.total - c.LogPane().size() - row.entries * row.shown;
    for (size_t i = 0; i < oneLine; ++i)
      c.AddLogLine("filler");
    for (size_t i = 0; i < row.entries; ++i)
      c.AddLogLine(row.entry);
    ASSERT_LT(c.LogPane().size(), 30000u); // entries alone stay below
    rig.Ticks(5);
    const bool rotated = c.LogPane().size() == 1 &&
                         c.LogPane()[0].rfind("Part log saved to ", 0) == 0;
    EXPECT_EQ(rotated, row.rotated);
  }
}

} // namespace
} // namespace kestrane::controltest
