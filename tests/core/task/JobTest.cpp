#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Errors.h"
#include "task/Job.h"
#include "tests/core/task/TaskTestSupport.h"

namespace kestrane {
namespace {

using tasktest::CrLf;
using tasktest::GetBytes;
using tasktest::PutBytes;
using tasktest::TempDir;
using V = std::vector<int32_t>;

TEST(JobOptionsTest, ZoomLists) {
  struct Row {
    const char *text;
    bool list;           // IsZoomList: a job rather than one zoom
    V zooms;             // when accepted
    const char *refusal; // a piece of the refusal, "" when accepted
  };
  const Row rows[] = {
      {"16", false, {}, ""},
      {"-3", false, {}, ""}, // one (wrong) zoom: the task's check says so
      {"16-18", true, {16, 17, 18}, ""},
      {"16,18", true, {16, 18}, ""},
      {"14,16-18", true, {14, 16, 17, 18}, ""},
      {"18,14", true, {14, 18}, ""}, // ascending whatever the order typed
      {"17-17", true, {17}, ""},
      {"1-2", true, {1, 2}, ""},
      {"20-21", true, {20, 21}, ""},
      {"16-14", true, {}, "runs downwards"},
      {"0,16", true, {}, "go from 1 to 21: \"0\""},
      {"16,22", true, {}, "go from 1 to 21: \"22\""},
      {"16,16", true, {}, "zoom 16 given twice"},
      {"14-16,15", true, {}, "zoom 15 given twice"},
      {"16,", true, {}, "\"\""},
      {",16", true, {}, "\"\""},
      {"16-", true, {}, "\"\""},
      {"16-17-18", true, {}, "\"17-18\""},
      {"16, 18", true, {}, "\" 18\""},
      {"0x10,12", true, {}, "\"0x10\""},
      {"a,b", true, {}, "\"a\""},
  };
  for (const Row &r : rows) {
    EXPECT_EQ(IsZoomList(r.text), r.list) << r.text;
    if (!r.list)
      continue;
    const JobList list = ParseZoomList(r.text);
    EXPECT_EQ(list.Ok(), *r.refusal == '\0') << r.text << ": " << list.Refusal;
    if (list.Ok())
      EXPECT_EQ(list.Values, r.zooms) << r.text;
    else
      EXPECT_NE(list.Refusal.find(r.refusal), std::string::npos)
          << r.text << ": " << list.Refusal;
  }
}

TEST(JobOptionsTest, DirectionLists) {
  struct Row {
    const char *text;
    bool list;
    V dirs;
    const char *refusal;
  };
  const Row rows[] = {
      {"North", false, {}, ""},
      {"3", false, {}, ""},
      {"all", true, {0, 1, 2, 3}, ""},
      {"ALL", true, {0, 1, 2, 3}, ""},
      {"North,East", true, {0, 1}, ""},
      {"west,north", true, {0, 3}, ""}, // N, E, S, W whatever the order
      {"SOUTH,1", true, {1, 2}, ""},    // names and indices mixed
      {"North,Up", true, {}, "Unknown direction: Up"},
      {"North,", true, {}, "Unknown direction: "},
      {"North,all", true, {}, "Unknown direction: all"},
      {"East,east", true, {}, "East given twice"},
      {"0,north", true, {}, "North given twice"},
  };
  for (const Row &r : rows) {
    EXPECT_EQ(IsDirectionList(r.text), r.list) << r.text;
    if (!r.list)
      continue;
    const JobList list = ParseDirectionList(r.text);
    EXPECT_EQ(list.Ok(), *r.refusal == '\0') << r.text << ": " << list.Refusal;
    if (list.Ok())
      EXPECT_EQ(list.Values, r.dirs) << r.text;
    else
      EXPECT_NE(list.Refusal.find(r.refusal), std::string::npos)
          << r.text << ": " << list.Refusal;
  }
}

TEST(JobTasksTest, NamesAndOrder) {
  struct Row {
    const char *typed;
    V zooms, dirs;
    std::vector<std::string> names;
  };
  const Row rows[] = {
      {"area",
       {16, 17},
       {0, 1},
       {"area_z16_N.ktsk", "area_z16_E.ktsk", "area_z17_N.ktsk",
        "area_z17_E.ktsk"}},
      {"area.ktsk",
       {},
       {0, 1, 2, 3}, // the single zoom text kept: 13
       {"area_z13_N.ktsk", "area_z13_E.ktsk", "area_z13_S.ktsk",
        "area_z13_W.ktsk"}},
      {"my.area",
       {18, 19},
       {}, // the single direction kept: South
       {"my.area_z18_S.ktsk", "my.area_z19_S.ktsk"}},
      {"a.KTSK", {5, 6}, {}, {"a.KTSK_z5_S.ktsk", "a.KTSK_z6_S.ktsk"}},
  };
  for (const Row &r : rows) {
    TaskFields fields;
    fields.TaskName = r.typed;
    fields.Left = "1.5";
    fields.DirIndex = 2;
    const std::vector<TaskFields> tasks = JobTasks(fields, r.zooms, r.dirs);
    ASSERT_EQ(tasks.size(), r.names.size()) << r.typed;
    for (size_t i = 0; i < tasks.size(); ++i) {
      EXPECT_EQ(tasks[i].TaskName, r.names[i]) << r.typed;
      // The name tells the task's own zoom and direction.
      const std::string &name = tasks[i].TaskName;
      EXPECT_NE(name.find("_z" + tasks[i].Zoom + "_"), std::string::npos);
      EXPECT_EQ(name[name.size() - 6], "NESW"[tasks[i].DirIndex]);
      EXPECT_EQ(tasks[i].Left, "1.5"); // the rest of the fields as typed
    }
  }
  EXPECT_EQ(JobFileNameFor("area"), "area.kjob");
  EXPECT_EQ(JobFileNameFor("area.ktsk"), "area.kjob");
}

TEST(JobFileTest, WrittenFileReadsBack) {
  TempDir dir;
  const std::vector<std::string> files = {dir.Path() + "a_z16_N.ktsk",
                                          dir.Path() + "a_z16_E.ktsk"};
  for (const std::string &f : files)
    PutBytes(f, "[MAIN]\r\n");
  const std::string job = dir.Path() + "a.kjob";
  WriteJobFile(job, files);
  EXPECT_EQ(GetBytes(job),
            CrLf({"kestrane job 1", "a_z16_N.ktsk", "a_z16_E.ktsk"}));
  EXPECT_EQ(ReadJobFile(job), files);
}

TEST(JobFileTest, RefusedFiles) {
  TempDir dir;
  PutBytes(dir.Path() + "t1.ktsk", "[MAIN]\r\n");
  PutBytes(dir.Path() + "t2.ktsk", "[MAIN]\r\n");
  struct Row {
    const char *name;
    std::string bytes;
    ErrorCause cause;
    std::string text; // a piece of the error's text, after the file's path
  };
  const std::string big(kMaxJobFileBytes + 1, '\n');
  const Row rows[] = {
      {"empty", "", ErrorCause::InvalidFile, "Not a job file: "},
      {"other", "[MAIN]\r\nt1.ktsk\r\n", ErrorCause::InvalidFile,
       "Not a job file: "},
      {"version", "kestrane job 2\nt1.ktsk\n", ErrorCause::InvalidFile,
       "Not a job file: "},
      {"none", "kestrane job 1\r\n\r\n", ErrorCause::InvalidFile,
       " lists no task"},
      {"missing", "kestrane job 1\nt1.ktsk\nt3.ktsk\n", ErrorCause::InvalidFile,
       " lists a project file that is not there: "},
      {"up", "kestrane job 1\n../t1.ktsk\n", ErrorCause::InvalidFile,
       " lists a file outside its folder: ../t1.ktsk"},
      {"absolute", "kestrane job 1\n/etc/passwd\n", ErrorCause::InvalidFile,
       " lists a file outside its folder: /etc/passwd"},
      {"sub", "kestrane job 1\nsub/t1.ktsk\n", ErrorCause::InvalidFile,
       " lists a file outside its folder: "},
      {"dotdot", "kestrane job 1\n..\n", ErrorCause::InvalidFile,
       " lists a file outside its folder: .."},
      {"twice", "kestrane job 1\nt1.ktsk\nt2.ktsk\nt1.ktsk\n",
       ErrorCause::InvalidFile, " lists a task twice: t1.ktsk"},
      {"big", big, ErrorCause::CannotOpen, "Cannot open file "},
  };
  for (const Row &r : rows) {
    const std::string job = dir.Path() + r.name + ".kjob";
    PutBytes(job, r.bytes);
    try {
      ReadJobFile(job);
      ADD_FAILURE() << r.name << ": read";
    } catch (const KError &e) {
      EXPECT_EQ(e.Cause(), r.cause) << r.name;
      const std::string what = e.what();
      EXPECT_NE(what.find(job), std::string::npos) << r.name << ": " << what;
      EXPECT_NE(what.find(r.text), std::string::npos) << r.name << ": " << what;
    }
  }
}

TEST(JobFileTest, AtMostOneTaskPerZoomAndDirection) {
  TempDir dir;
  std::string bytes = "kestrane job 1\n";
  for (size_t i = 0; i <= kMaxJobTasks; ++i) {
    const std::string name = "t" + std::to_string(i) + ".ktsk";
    PutBytes(dir.Path() + name, "[MAIN]\r\n");
    bytes += name + "\n";
  }
  const std::string job = dir.Path() + "many.kjob";
  PutBytes(job, bytes);
  try {
    ReadJobFile(job);
    ADD_FAILURE() << "read";
  } catch (const KError &e) {
    EXPECT_NE(std::string(e.what()).find(" lists more than 84 tasks"),
              std::string::npos)
        << e.what();
  }
}

} // namespace
} // namespace kestrane
