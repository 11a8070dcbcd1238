#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/Files.h"
#include "task/TaskInput.h"
#include "tests/core/task/TaskTestSupport.h"

namespace kestrane {
namespace {

using tasktest::Exists;
using tasktest::TempDir;

TEST(TaskFileNameForTest, ExtensionRule) {
  struct Row {
    const char *typed, *file;
  };
  const Row rows[] = {
      {"mytask", "mytask.ktsk"},           // no extension
      {"mytask.ktsk", "mytask.ktsk"},      // taken unchanged
      {"mytask.KTSK", "mytask.KTSK.ktsk"}, // compared case-sensitively
      {"my.area", "my.area.ktsk"},         // another extension stays
      {"dir.with.dot/name", "dir.with.dot/name.ktsk"}, // dot before the "/"
      {"a.ktsk/b", "a.ktsk/b.ktsk"},                   // ".ktsk" of a folder
      {"c:name.ktsk", "c:name.ktsk"},                  // after a ":" as well
      {"mytask.ktsk.bak", "mytask.ktsk.bak.ktsk"},     // only the last dot
  };
  for (const Row &r : rows)
    EXPECT_EQ(TaskFileNameFor(r.typed), r.file) << r.typed;
}

TEST(ReadCoordinateTest, Texts) {
  struct Row {
    const char *text;
    std::optional<double> value;
  };
  const Row rows[] = {
      {"116.25", 116.25},
      {"116,25", 116.25}, // the comma is a decimal point
      {"-122.340", -122.34},
      {"1,234,5", std::nullopt}, // two points: not a number
      {"", std::nullopt},        // empty field
      {"abc", std::nullopt},
      {"12a", std::nullopt}, // trailing garbage
      {"nan", std::nullopt}, // would pass every range check
      {"inf", std::nullopt},
      {"-inf", std::nullopt},
      {"1e999", std::nullopt}, // overflows to infinity
  };
  for (const Row &r : rows)
    EXPECT_EQ(ReadCoordinate(r.text), r.value) << r.text;
}

TaskFields Valid(const std::string &path) {
  TaskFields f;
  f.Left = "-122.34";
  f.Right = "-122.33";
  f.Top = "47.61";
  f.Bottom = "47.6";
  f.Path = path;
  return f;
}

// Each row breaks the fields in one way; several rows break more than one
// field to prove that the first failing check in the fixed order wins.
TEST(CheckTaskInputTest, FailureTableInOrder) {
  struct Row {
    const char *what;
    void (*change)(TaskFields &);
    const char *message; // empty: a message built from the folder
  };
  const Row rows[] = {
      {"zoom not a number",
       [](TaskFields &f) {
         f.Zoom = "x";
         f.Path = "";
       },
       "Zoom level should be between 1 and 21."},
      {"zoom 0", [](TaskFields &f) { f.Zoom = "0"; },
       "Zoom level should be between 1 and 21."},
      {"zoom 22", [](TaskFields &f) { f.Zoom = "22"; },
       "Zoom level should be between 1 and 21."},
      {"path empty",
       [](TaskFields &f) {
         f.Path = "";
         f.Left = "x";
       },
       "Please select a path to save the images."},
      {"left empty", [](TaskFields &f) { f.Left = ""; },
       "Longitude or latitude input error!"},
      {"bottom not a number",
       [](TaskFields &f) {
         f.Bottom = "1,234,5";
         f.Left = "-181";
       },
       "Longitude or latitude input error!"},
      {"left -181",
       [](TaskFields &f) {
         f.Left = "-181";
         f.Right = "181";
         f.Top = "86";
       },
       "Left Longitude should be between -180 and 180."},
      {"right 180.5",
       [](TaskFields &f) {
         f.Right = "180.5";
         f.Top = "86";
       },
       "Right Longitude should be between -180 and 180."},
      {"top 85,01",
       [](TaskFields &f) {
         f.Top = "85,01";
         f.Bottom = "-86";
       },
       "Top Latitude should be between -85 and 85."},
      {"bottom -86",
       [](TaskFields &f) {
         f.Bottom = "-86";
         f.Left = "0";
       },
       "Bottom Latitude should be between -85 and 85."},
      {"left 10 right 5",
       [](TaskFields &f) {
         f.Left = "10";
         f.Right = "5";
         f.Top = "-50";
       },
       "Left Longitude should less than Right Longitude!"},
      {"top 5 bottom 10",
       [](TaskFields &f) {
         f.Top = "5";
         f.Bottom = "10";
       },
       "Bottom Latitude should less than Top Latitude!"},
      {"no direction", [](TaskFields &f) { f.DirIndex = -1; },
       "Please select a direction."},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    TempDir dir;
    TaskFields f = Valid(dir.Path() + "out");
    r.change(f);
    const TaskInputCheck check = CheckTaskInput(f);
    ASSERT_FALSE(check.Ok());
    EXPECT_EQ(*check.Message, r.message);
  }
}

TEST(CheckTaskInputTest, OutputFolderIsMadeBeforeTheCoordinateChecks) {
  TempDir dir;
  TaskFields f = Valid(dir.Path() + "out");
  f.Left = "abc";
  EXPECT_EQ(*CheckTaskInput(f).Message, "Longitude or latitude input error!");
  EXPECT_TRUE(DirectoryExists(dir.Path() + "out")); // stays made
}

TEST(CheckTaskInputTest, FolderWhoseParentIsMissing) {
  TempDir dir;
  const std::string folder = dir.Path() + "missing/out";
  const TaskInputCheck check = CheckTaskInput(Valid(folder));
  ASSERT_FALSE(check.Ok());
  EXPECT_EQ(*check.Message, "Create directory " + folder + " Failed.");
  EXPECT_FALSE(Exists(dir.Path() + "missing"));
}

TEST(CheckTaskInputTest, PassingInputs) {
  struct Row {
    const char *what;
    void (*change)(TaskFields &);
  };
  const Row rows[] = {
      {"the reference task", [](TaskFields &) {}},
      // the bounds belong to the valid range
      {"left and right 180", [](TaskFields &f) { f.Left = f.Right = "180"; }},
      {"left and right -180", [](TaskFields &f) { f.Left = f.Right = "-180"; }},
      {"top and bottom -85", [](TaskFields &f) { f.Top = f.Bottom = "-85"; }},
      {"top and bottom 85", [](TaskFields &f) { f.Top = f.Bottom = "85"; }},
      {"zoom 1", [](TaskFields &f) { f.Zoom = "1"; }},
      {"zoom 21", [](TaskFields &f) { f.Zoom = "21"; }},
      {"commas", [](TaskFields &f) { f.Left = "-122,34"; }},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    TempDir dir;
    TaskFields f = Valid(dir.Path());
    r.change(f);
    const TaskInputCheck check = CheckTaskInput(f);
    EXPECT_TRUE(check.Ok()) << check.Message.value_or("");
  }
}

TEST(CheckTaskInputTest, CheckedValues) {
  TempDir dir;
  CreateDir(dir.Path() + "maps");
  TaskFields f = Valid(dir.Path() + "maps"); // existing folder, no "/"
  f.TaskName = "seattle";
  f.Left = "-122,34";
  f.Zoom = "18";
  f.DirIndex = 2;
  const TaskInputCheck check = CheckTaskInput(f);
  ASSERT_TRUE(check.Ok()) << *check.Message;
  const CheckedTaskInput &in = check.Input;
  EXPECT_EQ(in.Path, dir.Path() + "maps/"); // the "/" is added
  EXPECT_EQ(in.TaskFileName, "seattle.ktsk");
  EXPECT_EQ(in.LeftLongitude, -122.34);
  EXPECT_EQ(in.RightLongitude, -122.33);
  EXPECT_EQ(in.TopLatitude, 47.61);
  EXPECT_EQ(in.BottomLatitude, 47.6);
  EXPECT_EQ(in.Zoom, 18);
  EXPECT_EQ(in.Dir, 2);

  f.Path = dir.Path() + "maps/"; // a trailing "/" is not doubled
  EXPECT_EQ(CheckTaskInput(f).Input.Path, dir.Path() + "maps/");
}

} // namespace
} // namespace kestrane
