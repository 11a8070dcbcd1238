// The main window's live estimate: the figures of the task the fields would
// start, or the message Start would show, and never a folder made.
#include <gtest/gtest.h>

#include <string>

#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "task/DownloadTask.h"
#include "task/Estimate.h"
#include "task/TaskInput.h"
#include "tests/support/TempDir.h"

namespace kestrane {
namespace {

TaskFields Fields(const std::string &path, const std::string &left,
                  const std::string &right, const std::string &top,
                  const std::string &bottom, const std::string &zoom) {
  TaskFields f;
  f.Path = path;
  f.Left = left;
  f.Right = right;
  f.Top = top;
  f.Bottom = bottom;
  f.Zoom = zoom;
  return f;
}

TaskFields Outlined(TaskFields f, Outline area) {
  f.Area = std::move(area);
  return f;
}

TEST(EstimateLineTest, FiguresOrTheFirstFailingCheck) {
  testing::TempDir dir;
  const std::string out = dir.Path();
  const std::string missing = dir.Path() + "new";
  const std::string noParent = dir.Path() + "no/such";
  struct Row {
    const char *what;
    TaskFields fields;
    std::string line;
  } rows[] = {
      {"three tiles in a row",
       Fields(out, "116.25", "116.2525", "39.9", "39.9", "18"),
       "Tiles: 3 (3 x 1), at least 0.7 s"},
      {"a 0.1 degree square at zoom 21: half a million tiles",
       Fields(out, "116.2", "116.3", "40.0", "39.9", "21"),
       "Tiles: 443,080 (583 x 760), at least 7 h 41 min"},
      {"a degree square at zoom 21: rows and columns grouped too",
       Fields(out, "116", "117", "40", "39", "21"),
       "Tiles: 43,993,850 (5,827 x 7,550), at least 763 h 46 min"},
      {"an outline over the west five of the twelve tiles: those inside it "
       "of the block's",
       Outlined(Fields(out, "116.25", "116.265", "39.9", "39.9", "18"),
                {{{{116.2501, 39.8999},
                   {116.2549, 39.8999},
                   {116.2549, 39.9001},
                   {116.2501, 39.9001}},
                  {}}}),
       "Tiles: 5 inside the outline (12 x 1 = 12), at least 0.9 s"},
      {"an outline across the 180th meridian: the refusal",
       Outlined(Fields(out, "116.25", "116.265", "39.9", "39.9", "18"),
                {{{{179.5, 39.8}, {-179.5, 39.8}, {-179.5, 40}}, {}}}),
       "The outline crosses the 180th meridian (an edge from longitude 179.5 "
       "to -179.5); a task's area must lie on one side of it."},
      {"a comma as the decimal point",
       Fields(out, "116,25", "116,2525", "39,9", "39,9", "18"),
       "Tiles: 3 (3 x 1), at least 0.7 s"},
      {"a missing folder whose parent exists would be created",
       Fields(missing, "116.25", "116.25", "39.9", "39.9", "13"),
       "Tiles: 1 (1 x 1), at least 0.5 s"},
      {"a fresh form: no edge typed yet, whatever else is wrong",
       Fields("", "", "", "", "", "13"),
       "Pick an area with Map... or type its four edges"},
      {"one edge typed: the check speaks", Fields(out, "", "", "", "1", "13"),
       "Longitude or latitude input error!"},
      {"zoom 22", Fields(out, "1", "2", "2", "1", "22"),
       "Zoom level should be between 1 and 21."},
      {"no path", Fields("", "1", "2", "2", "1", "13"),
       "Please select a path to save the images."},
      {"a folder that cannot be created",
       Fields(noParent, "1", "2", "2", "1", "13"),
       "Create directory " + noParent + " Failed."},
      {"a field still empty", Fields(out, "1", "", "2", "1", "13"),
       "Longitude or latitude input error!"},
      {"left east of right", Fields(out, "3", "2", "2", "1", "13"),
       "Left Longitude should less than Right Longitude!"},
      {"top above 85", Fields(out, "1", "2", "86", "1", "13"),
       "Top Latitude should be between -85 and 85."},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(EstimateLine(row.fields), row.line);
  }
  // Typing creates nothing; only Start does.
  EXPECT_FALSE(DirectoryExists(missing));
  EXPECT_FALSE(DirectoryExists(dir.Path() + "no"));
}

// The count is the one the task's set-up computes (what `plan` prints), for
// every direction.
TEST(EstimateLineTest, CountIsTheTasksTotal) {
  testing::TempDir dir;
  const TaskFields areas[] = {
      Fields(dir.Path(), "116.25", "116.265", "39.9", "39.88", "18"),
      Fields(dir.Path(), "-122.34", "-122.33", "47.61", "47.60", "17"),
      Fields(dir.Path(), "179.9", "180", "-84.9", "-85", "12"),
  };
  for (const TaskFields &area : areas) {
    for (int dirIndex = 0; dirIndex < 4; ++dirIndex) {
      TaskFields f = area;
      f.DirIndex = dirIndex;
      SCOPED_TRACE(f.Left + " " + f.Top + " dir " + std::to_string(dirIndex));
      const TaskInputCheck check = CheckTaskInput(f);
      ASSERT_TRUE(check.Ok());
      const TaskParameters params =
          ParametersFor(check.Input, Settings{}, false);
      TaskEnvironment env;
      env.ProgramFolder = dir.Path();
      const DownloadTask task(params, env);
      const std::string line = EstimateLine(f);
      EXPECT_EQ(line.substr(0, line.find(' ', 7)),
                "Tiles: " + GroupDigits(task.TotalCount));
    }
  }
}

} // namespace
} // namespace kestrane
