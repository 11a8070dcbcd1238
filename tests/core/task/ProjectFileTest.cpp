#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "task/DownloadTask.h"
#include "task/TaskFiles.h"
#include "tests/core/task/TaskTestSupport.h"

namespace kestrane {
namespace {

using tasktest::CrLf;
using tasktest::ExampleParams;
using tasktest::GetBytes;
using tasktest::PutBytes;
using tasktest::TempDir;

// The project file of the reference task, as written at Start.
std::vector<std::string> ReferenceLines() {
  std::vector<std::string> lines = {
      "[MapsType]",
      "MapsType=21",
      "",
      "[AREA]",
      "LeftLongitude=-122.34",
      "RightLongitude=-122.33",
      "TopLatitude=47.61",
      "BottomLatitude=47.6",
      "",
      "Left_Longitude_download=-122.341003417969",
      "Right_Longitude_download=-122.328643798828",
      "Top_Latitude_download=47.6107923606062",
      "Bottom_Latitude_download=47.5996813120644",
      "",
      "[Zoom]",
      "Zoom=18",
      "",
      "[Dir]",
      "Dir=0",
      "",
      "[XY]",
      "MinX=41986",
      "MinY=170585",
      "MaxX=41994",
      "MaxY=170596",
      "",
      "[XY_VIEW]",
      "MinX=41986",
      "MinY=170585",
      "MaxX=41994",
      "MaxY=170596",
      "",
      "[THREADS]",
      "ThreadCount=8",
      "T1X=",
      "T1Y=",
      "T2X=",
      "T2Y=",
      "T3X=",
      "T3Y=",
      "T4X=",
      "T4Y=",
      "T5X=",
      "T5Y=",
      "T6X=",
      "T6Y=",
      "T7X=",
      "T7Y=",
      "T8X=",
      "T8Y=",
      "",
  };
  return lines;
}

TEST(WriteProjectFileTest, ReferenceTaskByteForByte) {
  TempDir dir;
  const TaskParameters p = ExampleParams(dir.Path());
  const DownloadTask t(p);
  WriteProjectFile(t);
  const std::vector<std::string> expected = ReferenceLines();
  ASSERT_EQ(expected.size(), 51u);
  EXPECT_EQ(GetBytes(dir.Path() + "newtask.ktsk"), CrLf(expected));
}

TEST(WriteProjectFileTest, Variants) {
  struct Row {
    const char *what;
    void (*change)(TaskParameters &, TaskEnvironment &);
    std::vector<std::pair<int, std::string>> lines; // 1-based line, text
  };
  const Row rows[] = {
      // East swaps the view ranges (a task written with XY twice is wrong)
      {"East",
       [](TaskParameters &p, TaskEnvironment &) { p.Dir = 1; },
       {{19, "Dir=1"},
        {28, "MinX=170585"},
        {29, "MinY=41986"},
        {30, "MaxX=170596"},
        {31, "MaxY=41994"}}},
      // a whole number has no decimal point
      {"whole number",
       [](TaskParameters &p, TaskEnvironment &) { p.LeftLongitude = -123; },
       {{5, "LeftLongitude=-123"},
        {10, "Left_Longitude_download=-123.000183105469"}}},
      // the user's decimal separator, not a fixed point
      {"comma separator",
       [](TaskParameters &, TaskEnvironment &env) {
         env.DecimalSeparator = ',';
       },
       {{5, "LeftLongitude=-122,34"},
        {8, "BottomLatitude=47,6"},
        {12, "Top_Latitude_download=47,6107923606062"}}},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    TempDir dir;
    TaskParameters p = ExampleParams(dir.Path());
    TaskEnvironment env;
    r.change(p, env);
    const DownloadTask t(p, env);
    WriteProjectFile(t);
    const std::vector<std::string> got =
        tasktest::SplitCrLf(GetBytes(dir.Path() + "newtask.ktsk"));
    ASSERT_EQ(got.size(), 51u);
    for (const auto &[line, text] : r.lines)
      EXPECT_EQ(got[static_cast<size_t>(line - 1)], text) << "line " << line;
  }
}

TEST(WriteProjectFileTest, ThreeTileTaskWritesLoweredCountAndEverySlot) {
  TempDir dir;
  TaskParameters p = ExampleParams(dir.Path());
  tasktest::SetBlock(p, 18, 41990, 41990, 170590, 170592);
  ASSERT_EQ(DownloadTask(p).TotalCount, 3);
  p.ThreadCount = 3; // as Start lowers it
  WriteProjectFile(DownloadTask(p));
  const std::vector<std::string> got =
      tasktest::SplitCrLf(GetBytes(dir.Path() + "newtask.ktsk"));
  ASSERT_EQ(got.size(), 51u);
  EXPECT_EQ(got[33], "ThreadCount=3");
  for (int n = 1; n <= 8; ++n) {
    EXPECT_EQ(got[32 + 2 * n], "T" + std::to_string(n) + "X=");
    EXPECT_EQ(got[33 + 2 * n], "T" + std::to_string(n) + "Y=");
  }
}

TEST(WriteProjectFileTest, ContinuedTaskLeavesTheFileAlone) {
  TempDir dir;
  TaskParameters p = ExampleParams(dir.Path());
  std::string saved = CrLf(ReferenceLines());
  saved.replace(saved.find("T1X="), 4, "T1X=41990");
  saved.replace(saved.find("T1Y="), 4, "T1Y=170590");
  PutBytes(dir.Path() + "newtask.ktsk", saved);
  p.ContinueTask = true;
  const DownloadTask built(p);
  const DownloadTask t = built.WithResumePositions(ReadResumePositions(built));
  WriteProjectFile(t);
  EXPECT_EQ(GetBytes(dir.Path() + "newtask.ktsk"), saved);
  EXPECT_EQ(t.ResumeX[0], 41990);
  EXPECT_EQ(t.ResumeY[0], 170590);
}

TEST(WriteProjectFileTest, ReplacesAnEarlierFile) {
  TempDir dir;
  const TaskParameters p = ExampleParams(dir.Path());
  PutBytes(dir.Path() + "newtask.ktsk", "[THREADS]\r\nT1X=5\r\nT1Y=6\r\n");
  const DownloadTask t(p);
  WriteProjectFile(t);
  EXPECT_EQ(GetBytes(dir.Path() + "newtask.ktsk"), CrLf(ReferenceLines()));
}

TEST(CreateFailedFileTest, EmptyForANewTaskUntouchedWhenContinuing) {
  TempDir dir;
  const std::string path = dir.Path() + "newtask_failed.ftl";
  PutBytes(path, "old|record\r\n");
  TaskParameters p = ExampleParams(dir.Path());
  p.ContinueTask = true;
  {
    const DownloadTask t(p);
    CreateFailedFile(t);
    EXPECT_EQ(GetBytes(path), "old|record\r\n"); // earlier failures survive
  }
  p.ContinueTask = false;
  const DownloadTask t(p);
  CreateFailedFile(t);
  EXPECT_TRUE(tasktest::Exists(path));
  EXPECT_EQ(GetBytes(path), ""); // zero bytes, no line end
}

} // namespace
} // namespace kestrane
