// Preparing a task, shared by Start and `plan`.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "control/TaskPrepare.h"
#include "task/TaskFiles.h"
#include "tests/support/TempDir.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;

class Recorder : public MessageSink {
public:
  void ShowMessage(const std::string &text) override { Texts.push_back(text); }
  std::vector<std::string> Texts;
};

// The edges and zoom as typed.
struct Area {
  std::string Left, Right, Top, Bottom, Zoom;
};
const Area kThreeTiles{"116.25", "116.2525", "39.9", "39.9", "18"};
const Area kTwelveTiles{"116.25", "116.265", "39.9", "39.9", "18"};

TaskFields Fields(const std::string &path, const Area &a) {
  TaskFields f;
  f.TaskName = "t";
  f.Left = a.Left;
  f.Right = a.Right;
  f.Top = a.Top;
  f.Bottom = a.Bottom;
  f.Zoom = a.Zoom;
  f.Path = path;
  return f;
}

// A temporary file of a writer that no longer runs (no process has that
// id), as a run killed in mid-write leaves one.
const char kStale[] = ".kestrane-tmp-99999999-1.part";

void Touch(const std::string &path) {
  std::ofstream(path) << "x";
}

std::string Slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PrepareTaskTest, RefusalsLeaveNothingBehind) {
  struct Row {
    const char *what;
    Area area;
    bool decideRefuses;
    std::vector<std::string> messages;
    bool paramsSet;
  } rows[] = {
      {"input check fails",
       {"116.25", "116.25", "39.9", "39.9", "22"},
       false,
       {"Zoom level should be between 1 and 21."},
       false},
      {"the front end refuses", kThreeTiles, true, {}, false},
      // The whole world at the deepest zoom: more tiles than a task holds.
      {"the task cannot be built",
       {"-180", "180", "85", "-85", "21"},
       false,
       {"The area is too large: 4383643271168 tiles.",
        "Error: Create task failure."},
       true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    testing::TempDir dir;
    TaskPreparation prep;
    prep.Fields = Fields(dir.Path(), row.area);
    prep.Decide = [&](const CheckedTaskInput &) -> std::optional<bool> {
      if (row.decideRefuses)
        return std::nullopt;
      return false;
    };
    Recorder messages;
    const PreparedTask out = PrepareTask(prep, &messages);
    EXPECT_EQ(messages.Texts, row.messages);
    EXPECT_EQ(out.Params.has_value(), row.paramsSet);
    EXPECT_EQ(out.Task, nullptr);
    EXPECT_TRUE(fs::is_empty(dir.Path()));
  }
}

TEST(PrepareTaskTest, WritesTheFilesCutsTheWorkersAndClearsTemporaries) {
  struct Row {
    const char *what;
    Area area;
    int64_t tiles;
    int32_t workers;
    std::optional<bool> continues; // Decide's answer; nullopt: no Decide
  } rows[] = {
      {"three tiles: three workers", kThreeTiles, 3, 3, false},
      {"twelve tiles: eight workers", kTwelveTiles, 12, 8, std::nullopt},
      {"continued", kThreeTiles, 3, 3, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    testing::TempDir dir;
    fs::create_directory(dir.Path() + "t");
    Touch(dir.Path() + kStale);
    Touch(dir.Path() + "t/" + kStale);
    TaskPreparation prep;
    prep.Fields = Fields(dir.Path(), row.area);
    std::string before; // the project file a continued task finds
    if (row.continues == true) {
      const PreparedTask earlier = PrepareTask(prep, nullptr);
      ASSERT_NE(earlier.Task, nullptr);
      WriteTaskFiles(*earlier.Task);
      std::ofstream(dir.Path() + "t.ktsk", std::ios::app)
          << "[THREADS]\r\nT1X=5\r\n";
      before = Slurp(dir.Path() + "t.ktsk");
      Touch(dir.Path() + kStale);
    }
    if (row.continues)
      prep.Decide = [&](const CheckedTaskInput &) { return row.continues; };
    Recorder messages;
    const PreparedTask out = PrepareTask(prep, &messages);
    ASSERT_NE(out.Task, nullptr);
    WriteTaskFiles(*out.Task);
    if (row.continues == true) {
      EXPECT_EQ(Slurp(dir.Path() + "t.ktsk"), before); // positions kept
    }
    EXPECT_TRUE(messages.Texts.empty());
    ASSERT_NE(out.Task, nullptr);
    EXPECT_EQ(out.Task->TotalCount, row.tiles);
    EXPECT_EQ(out.Params->ThreadCount, row.workers);
    EXPECT_EQ(out.Task->Params, *out.Params);
    EXPECT_EQ(out.Params->ContinueTask, row.continues.value_or(false));
    EXPECT_TRUE(fs::exists(dir.Path() + "t.ktsk"));
    EXPECT_TRUE(fs::exists(out.Task->LogFilePath));
    EXPECT_TRUE(fs::exists(out.Task->FailedFilePath));
    EXPECT_FALSE(fs::exists(dir.Path() + kStale));
    EXPECT_FALSE(fs::exists(dir.Path() + "t/" + kStale));
  }
}

// A write that fails while a new task's files are written leaves no project
// file behind: nothing that `resume` or Start would continue without the
// log and the failed-tile list it needs.
TEST(PrepareTaskTest, FailedWriteLeavesNoProjectFileToContinue) {
  for (const char *inTheWay :
       {"t_list.txt1.txt", "t_log.txt", "t_failed.ftl"}) {
    SCOPED_TRACE(inTheWay);
    testing::TempDir dir;
    fs::create_directory(dir.Path() + inTheWay); // a folder: not writable
    TaskPreparation prep;
    prep.Fields = Fields(dir.Path(), kThreeTiles);
    const PreparedTask out = PrepareTask(prep, nullptr);
    ASSERT_NE(out.Task, nullptr);
    EXPECT_THROW(WriteTaskFiles(*out.Task), KError);
    EXPECT_FALSE(fs::exists(dir.Path() + "t.ktsk"));
  }
}

// Preparing makes the tile folder and reads the saved positions of a
// continued task, and writes nothing else: the caller writes the task's
// files once it holds the task.
TEST(PrepareTaskTest, MakesOnlyTheTileFolderAndReadsThePositions) {
  for (const bool continues : {false, true}) {
    SCOPED_TRACE(continues ? "continued" : "fresh");
    testing::TempDir dir;
    TaskPreparation prep;
    prep.Fields = Fields(dir.Path(), kTwelveTiles);
    int32_t x = 0, y = 0; // the position saved for worker 2
    if (continues) {
      const PreparedTask earlier = PrepareTask(prep, nullptr);
      ASSERT_NE(earlier.Task, nullptr);
      WriteTaskFiles(*earlier.Task);
      x = earlier.Task->MaxX;
      y = earlier.Task->MinY;
      std::string project = Slurp(dir.Path() + "t.ktsk");
      project.replace(project.find("T2X="), 4, "T2X=" + std::to_string(x));
      project.replace(project.find("T2Y="), 4, "T2Y=" + std::to_string(y));
      std::ofstream(dir.Path() + "t.ktsk", std::ios::binary) << project;
      prep.Decide = [](const CheckedTaskInput &) {
        return std::optional<bool>(true);
      };
    }
    std::map<std::string, std::string> expected =
        testing::DiskState(dir.Path());
    expected["t"] = "<folder>";
    const PreparedTask out = PrepareTask(prep, nullptr);
    ASSERT_NE(out.Task, nullptr);
    EXPECT_EQ(testing::DiskState(dir.Path()), expected);
    EXPECT_EQ(out.Task->ResumeX[0] | out.Task->ResumeY[0], 0);
    EXPECT_EQ(out.Task->ResumeX[1], x);
    EXPECT_EQ(out.Task->ResumeY[1], y);
  }
}

} // namespace
} // namespace kestrane

namespace kestrane {
namespace {

// A fresh task takes the outline it is given and leaves it beside its
// project file; continued, the task takes it from there, and an outline
// file it cannot use refuses it, the file named.
TEST(PrepareTaskTest, AContinuedTaskReadsItsOutlineFromBesideItsFile) {
  struct Row {
    const char *what;
    std::string replaced; // the outline file's bytes before continuing
    std::vector<std::string> messages;
    int64_t tiles; // -1: refused; 0: as many as the fresh task's
  };
  testing::TempDir dir;
  const std::string file = dir.Path() + "t_area.geojson";
  const Row rows[] = {
      {"as written", "", {}, 0},
      {"gone: the rectangle", "-", {}, 12},
      {"no polygon",
       R"({"type":"Point","coordinates":[116.25,39.9]})",
       {"The area outline " + file +
            " is not a polygon GeoJSON file: a Point is no polygon (at byte "
            "44)",
        "Error: Create task failure."},
       -1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    TaskPreparation prep;
    prep.Fields = Fields(dir.Path(), kTwelveTiles);
    // A part of the block's twelve tiles.
    prep.Fields.Area = {{{{116.2501, 39.8999},
                          {116.2549, 39.8999},
                          {116.2549, 39.9001},
                          {116.2501, 39.9001}},
                         {}}};
    const PreparedTask fresh = PrepareTask(prep, nullptr);
    ASSERT_NE(fresh.Task, nullptr);
    ASSERT_LT(fresh.Task->InsideCount, 12);
    WriteTaskFiles(*fresh.Task);
    if (row.replaced == "-")
      fs::remove(file);
    else if (!row.replaced.empty())
      std::ofstream(file, std::ios::trunc) << row.replaced;

    prep.Fields.Area.clear();
    prep.Decide = [](const CheckedTaskInput &) { return true; };
    Recorder messages;
    const PreparedTask continued = PrepareTask(prep, &messages);
    EXPECT_EQ(messages.Texts, row.messages);
    if (row.tiles < 0) {
      EXPECT_EQ(continued.Task, nullptr);
      continue;
    }
    ASSERT_NE(continued.Task, nullptr);
    EXPECT_EQ(continued.Task->InsideCount,
              row.tiles > 0 ? row.tiles : fresh.Task->InsideCount);
    EXPECT_EQ(continued.Task->Params.Area,
              row.tiles > 0 ? Outline{} : fresh.Task->Params.Area);
  }
}

} // namespace
} // namespace kestrane
