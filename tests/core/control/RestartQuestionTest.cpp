// Start's question before a restart loses saved positions.
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

} // namespace
} // namespace kestrane::controltest
