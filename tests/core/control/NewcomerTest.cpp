// Start's question before a restart loses saved positions, the log rotation
// counting the lines the pane shows, and the progress line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/TaskControl.h"
#include "platform/Files.h"
#include "platform/Ini.h"
#include "tests/core/control/ControlRig.h"

namespace kestrane::controltest {
namespace {

TEST(RestartQuestionTest, AskedOnlyWhenSavedPositionsWouldBeLost) {
  struct Row {
    const char *what;
    bool typedAgainAsBefore; // the continue rule holds
    bool positionsKept;      // the THREADS keys still hold values
    bool answer;
    bool asked, started, continues;
  } rows[] = {
      {"39.90 against 39.9, answered No", false, true, false, true, false,
       false},
      {"39.90 against 39.9, answered Yes", false, true, true, true, true,
       false},
      {"no saved positions: nothing to lose", false, false, true, false, true,
       false},
      {"typed as before: the task continues", true, true, false, false, true,
       true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    ControlRig rig;
    TaskFields f = rig.Fields(kOneTile);
    ASSERT_TRUE(rig.Control().Start(f));
    ASSERT_GT(rig.RunToEnd(), 0);
    const std::string project = rig.Out() + "t.ktsk";
    if (!row.positionsKept) {
      IniFile ini(project);
      ini.WriteString("THREADS", "T1X", "");
      ini.WriteString("THREADS", "T1Y", "");
    }
    const std::string before = Slurp(project);
    const std::vector<std::string> pane = rig.Control().LogPane();
    const size_t messages = rig.Sink.Texts.size();
    if (!row.typedAgainAsBefore)
      f.Top = "39.90";
    rig.Sink.Answer = row.answer;

    EXPECT_EQ(rig.Control().Start(f), row.started);
    if (row.asked) {
      ASSERT_EQ(rig.Sink.Questions.size(), 1u);
      EXPECT_EQ(rig.Sink.Questions[0], RestartQuestion(project));
    } else {
      EXPECT_TRUE(rig.Sink.Questions.empty());
    }
    EXPECT_EQ(rig.Sink.Texts.size(), messages); // no message besides
    if (!row.started) {
      // No: the click ends with nothing changed.
      EXPECT_EQ(Slurp(project), before);
      EXPECT_EQ(rig.Control().LogPane(), pane);
      EXPECT_EQ(rig.Control().Caption(), "Start");
      EXPECT_TRUE(rig.Control().Threads().empty());
      EXPECT_FALSE(rig.Control().TimerEnabled());
      continue;
    }
    EXPECT_EQ(rig.Control().CurrentParameters()->ContinueTask, row.continues);
    ASSERT_GT(rig.RunToEnd(), 0);
  }
}

TEST(RestartQuestionTest, TextNamesTheFileAndTheWayToContinue) {
  EXPECT_EQ(RestartQuestion("/d/t.ktsk"),
            "The task file /d/t.ktsk holds the saved positions of an earlier "
            "run, but its area, zoom, direction or name differ from the "
            "fields as typed (for example 47.60 against 47.6). Starting now "
            "begins the task afresh and loses those positions. Use \"Open "
            "task ...\" to continue it. Start afresh?");
}

// The rotation limit counts the lines the pane shows: a socket failure's
// text holds a CR LF and shows as two lines.
TEST(LogRotationTest, CountsTheLinesEachEntryShows) {
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

TEST(ProgressLineTest, StoredAndGivenUpApart) {
  const auto progress = [](int32_t total, int32_t stored, int32_t givenUp,
                           int32_t skipped) {
    TaskProgress p;
    p.Total = total;
    p.Stored = stored;
    p.GivenUp = givenUp;
    p.Skipped = skipped;
    return p;
  };
  struct Row {
    const char *what;
    TaskProgress p;
    bool running;
    double seconds;
    const char *line;
  } rows[] = {
      {"ended, some given up", progress(35, 31, 4, 0), false, 20,
       "35 of 35 tiles concluded: 31 stored, 4 given up"},
      {"running: rate and time left", progress(35, 9, 1, 0), true, 5,
       "10 of 35 tiles concluded: 9 stored, 1 given up; 2.0 tiles/s, 0:13 "
       "left"},
      {"running, nothing fetched yet: no time left", progress(35, 0, 0, 0),
       true, 0, "0 of 35 tiles concluded: 0 stored, 0 given up; 0.0 tiles/s"},
      // Tiles of an earlier run count as concluded, not towards the rate.
      {"continued task", progress(40, 4, 0, 30), true, 2,
       "34 of 40 tiles concluded: 4 stored, 0 given up, 30 done before; 2.0 "
       "tiles/s, 0:03 left"},
      {"stopped before the end", progress(35, 20, 2, 0), false, 9,
       "22 of 35 tiles concluded: 20 stored, 2 given up; stopped"},
      {"an hour and more left", progress(100000, 10, 0, 0), true, 10,
       "10 of 100000 tiles concluded: 10 stored, 0 given up; 1.0 tiles/s, "
       "27:46:30 left"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(ProgressLine(row.p, row.running, row.seconds), row.line);
  }
}

} // namespace
} // namespace kestrane::controltest
