// Start's questions: before a restart loses saved positions (what differs,
// and the three answers), and before a task of more than an hour.
#include <gtest/gtest.h>

#include <functional>

#include <string>
#include <vector>

#include "control/TaskControl.h"
#include "platform/Files.h"
#include "platform/Ini.h"
#include "tests/core/control/ControlRig.h"

namespace kestrane::controltest {
namespace {

TEST(RestartQuestionTest, AskedOnlyWhenSavedPositionsWouldBeLost) {
  const std::string afresh = "Start afresh", cancel = "Cancel",
                    continueSaved = "Continue the saved task";
  struct Row {
    const char *what;
    bool typedAgainAsBefore; // the continue rule holds
    bool positionsKept;      // the THREADS keys still hold values
    std::string answer;
    bool asked, started, continues;
  } rows[] = {
      {"39.90 against 39.9, answered Cancel", false, true, cancel, true, false,
       false},
      {"39.90 against 39.9, answered Start afresh", false, true, afresh, true,
       true, false},
      {"39.90 against 39.9, answered Continue the saved task", false, true,
       continueSaved, true, true, true},
      {"no saved positions: nothing to lose", false, false, cancel, false, true,
       false},
      {"typed as before: the task continues", true, true, cancel, false, true,
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
    rig.Sink.Choice = row.answer;

    EXPECT_EQ(rig.Control().Start(f), row.started);
    if (row.asked) {
      ASSERT_EQ(rig.Sink.Questions.size(), 1u);
      EXPECT_EQ(
          rig.Sink.Questions[0],
          RestartQuestion(project, {{"Top Latitude", "39.90", kOneTile.Top}}));
      EXPECT_EQ(rig.Sink.Offered[0], RestartAnswerTexts());
    } else {
      EXPECT_TRUE(rig.Sink.Questions.empty());
    }
    EXPECT_EQ(rig.Sink.Texts.size(), messages); // no message besides
    if (!row.started) {
      // Cancel: the click ends with nothing changed.
      EXPECT_EQ(Slurp(project), before);
      EXPECT_EQ(rig.Control().LogPane(), pane);
      EXPECT_EQ(rig.Control().Caption(), "Start");
      EXPECT_TRUE(rig.Control().Threads().empty());
      EXPECT_FALSE(rig.Control().TimerEnabled());
      continue;
    }
    EXPECT_EQ(rig.Control().CurrentParameters()->ContinueTask, row.continues);
    // Continuing the saved task shows its values in the fields: the area
    // as the file holds it.
    if (row.answer == continueSaved) {
      ASSERT_EQ(rig.View.Restored.size(), 1u);
      EXPECT_EQ(rig.View.Restored[0].Top, kOneTile.Top);
      EXPECT_EQ(rig.View.Restored[0].TaskName, "t.ktsk");
      EXPECT_TRUE(PaneHas(rig.Control(), "Log continue..."));
    } else {
      EXPECT_TRUE(rig.View.Restored.empty());
    }
    ASSERT_GT(rig.RunToEnd(), 0);
  }
}

// The question names every field that keeps the task from continuing, with
// both values, in the order of the continue rule.
TEST(RestartQuestionTest, NamesTheFieldsThatDiffer) {
  struct Row {
    const char *what;
    std::function<void(TaskFields &)> edit;
    std::vector<FieldDifference> differences;
  } rows[] = {
      {"nothing changed", [](TaskFields &) {}, {}},
      {"the name typed without .ktsk",
       [](TaskFields &f) { f.TaskName = "t"; },
       {{"Task name", "t", "t.ktsk"}}},
      {"two edges in another form",
       [](TaskFields &f) {
         f.Left = "116.250";
         f.Bottom = "39.90";
       },
       {{"Left Longitude", "116.250", "116.25"},
        {"Bottom Latitude", "39.90", "39.9"}}},
      {"zoom and direction",
       [](TaskFields &f) {
         f.Zoom = "14";
         f.DirIndex = 2;
       },
       {{"Zoom level", "14", "13"}, {"Direction", "South", "North"}}},
  };
  ControlRig rig;
  ASSERT_TRUE(rig.Control().Start(rig.Fields(kOneTile)));
  ASSERT_GT(rig.RunToEnd(), 0);
  const std::string project = rig.Out() + "t.ktsk";
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    TaskFields f = rig.Fields(kOneTile);
    row.edit(f);
    const TaskInputCheck check = CheckTaskInput(f);
    ASSERT_TRUE(check.Ok());
    EXPECT_EQ(DifferingFields(project, f, check.Input.Zoom, check.Input.Dir),
              row.differences);
    EXPECT_EQ(
        ContinuesEarlierRun(project, f, check.Input.Zoom, check.Input.Dir),
        row.differences.empty());
  }
}

TEST(RestartQuestionTest, TextNamesTheFileTheFieldsAndTheChoices) {
  EXPECT_EQ(RestartQuestion("/d/t.ktsk", {{"Task name", "t", "t.ktsk"},
                                          {"Top Latitude", "47.60", "47.6"}}),
            "The task file /d/t.ktsk holds the saved positions of an earlier "
            "run, but the fields differ from it:\n"
            "\nTask name: \"t\" now, \"t.ktsk\" in the file"
            "\nTop Latitude: \"47.60\" now, \"47.6\" in the file"
            "\n\nContinue the saved task (its values go back into the "
            "fields), start it afresh (the saved positions are lost), or "
            "cancel?");
  EXPECT_EQ(RestartAnswerTexts(),
            (std::vector<std::string>{"Continue the saved task", "Start afresh",
                                      "Cancel"}));
}

// A file of another map type cannot be continued: two answers only.
TEST(RestartQuestionTest, NoContinueForAnotherMapType) {
  ControlRig rig;
  TaskFields f = rig.Fields(kOneTile);
  ASSERT_TRUE(rig.Control().Start(f));
  ASSERT_GT(rig.RunToEnd(), 0);
  IniFile(rig.Out() + "t.ktsk").WriteInteger("MapsType", "MapsType", 20);
  rig.Sink.Choice = "Continue the saved task"; // not offered: the fallback
  EXPECT_FALSE(rig.Control().Start(f));
  ASSERT_EQ(rig.Sink.Offered.size(), 1u);
  EXPECT_EQ(rig.Sink.Offered[0],
            (std::vector<std::string>{"Start afresh", "Cancel"}));
  EXPECT_TRUE(rig.View.Restored.empty());
}

// Before a fresh task of more than an hour at the service's pace the window
// asks; No leaves nothing behind, not even the tile folder.
TEST(RestartQuestionTest, LongTaskIsAskedAboutFirst) {
  EXPECT_EQ(LongTaskQuestion(1570646, 98163000),
            "This task has 1,570,646 tiles; at the service's pace their "
            "download takes at least 27 h 16 min. Start it?");
  EXPECT_EQ(LongTaskQuestion(7200, kLongTaskMilliseconds), std::nullopt);

  struct Row {
    const char *what;
    bool ask; // AskBeforeLongTasks
    Area area;
    bool asked;
  } rows[] = {
      {"a degree square at zoom 18",
       true,
       {"116", "117", "40", "39", "18"},
       true},
      {"one tile", true, kOneTile, false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    ControlRig rig;
    rig.Configure(
        [&](TaskControlEnv &env) { env.AskBeforeLongTasks = row.ask; });
    rig.Sink.Answer = false;
    rig.Server.Close();
    const bool started = rig.Control().Start(rig.Fields(row.area));
    EXPECT_EQ(rig.Sink.Questions.size(), row.asked ? 1u : 0u);
    if (row.asked) {
      EXPECT_FALSE(started);
      EXPECT_EQ(rig.Sink.Questions[0].rfind("This task has ", 0), 0u);
      // Only the task's lock file, taken before the question.
      EXPECT_EQ(Names(rig.Out()), std::vector<std::string>{"t.ktsk.lock"});
    }
  }
}
} // namespace
} // namespace kestrane::controltest
