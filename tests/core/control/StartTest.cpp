#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "control/TaskControl.h"
#include "platform/Files.h"
#include "platform/Ini.h"
#include "tests/core/control/ControlRig.h"
#include "tests/support/KilledWriter.h"

namespace kestrane::controltest {
namespace {

const char kCoordinateError[] = "Longitude or latitude input error!";

// Every row of the input checks, in their order; each row also breaks the
// checks after it where that shows that the first failing check wins.
TEST(StartTest, RefusedInputShowsTheFirstFailingCheckAndStartsNothing) {
  struct Row {
    const char *what;
    std::function<void(TaskFields &, ControlRig &)> change;
    std::function<std::vector<std::string>(ControlRig &)> messages;
    bool folderMade; // the output folder stays even when a later check fails
    bool paramsMade; // a failed task creation still leaves the new record
  };
  const auto one = [](std::string text) {
    return [text](ControlRig &) { return std::vector<std::string>{text}; };
  };
  const std::vector<Row> rows = {
      // The zoom is read first; the window's spinner never gives these.
      {"zoom 22", [](TaskFields &f, ControlRig &) { f.Zoom = "22"; },
       one("Zoom level should be between 1 and 21."), false, false},
      {"zoom 0 wins over an empty path",
       [](TaskFields &f, ControlRig &) {
         f.Zoom = "0";
         f.Path = "";
       },
       one("Zoom level should be between 1 and 21."), false, false},
      {"empty path wins over a bad coordinate",
       [](TaskFields &f, ControlRig &) {
         f.Path = "";
         f.Left = "x";
       },
       one("Please select a path to save the images."), false, false},
      // The folder text as typed, without a "/" added.
      {"parent of the folder missing",
       [](TaskFields &f, ControlRig &r) { f.Path = r.Dir() + "no/such"; },
       [](ControlRig &r) {
         return std::vector<std::string>{"Create directory " + r.Dir() +
                                         "no/such Failed."};
       },
       false, false},
      {"empty coordinate", [](TaskFields &f, ControlRig &) { f.Bottom = ""; },
       one(kCoordinateError), true, false},
      // "1,234,5" becomes "1.234.5", not a number.
      {"two commas", [](TaskFields &f, ControlRig &) { f.Left = "1,234,5"; },
       one(kCoordinateError), true, false},
      {"words", [](TaskFields &f, ControlRig &) { f.Top = "north"; },
       one(kCoordinateError), true, false},
      {"left -181 wins over every other range fault",
       [](TaskFields &f, ControlRig &) {
         f.Left = "-181";
         f.Right = "181";
         f.Top = "86";
         f.Bottom = "-86";
       },
       one("Left Longitude should be between -180 and 180."), true, false},
      {"right 180.5", [](TaskFields &f, ControlRig &) { f.Right = "180.5"; },
       one("Right Longitude should be between -180 and 180."), true, false},
      {"top 85.01",
       [](TaskFields &f, ControlRig &) {
         f.Top = "85,01"; // a comma reads as the point
       },
       one("Top Latitude should be between -85 and 85."), true, false},
      {"bottom -85.5", [](TaskFields &f, ControlRig &) { f.Bottom = "-85.5"; },
       one("Bottom Latitude should be between -85 and 85."), true, false},
      {"left 10, right 5",
       [](TaskFields &f, ControlRig &) {
         f.Left = "10";
         f.Right = "5";
       },
       one("Left Longitude should less than Right Longitude!"), true, false},
      {"top 5, bottom 10",
       [](TaskFields &f, ControlRig &) {
         f.Top = "5";
         f.Bottom = "10";
       },
       one("Bottom Latitude should less than Top Latitude!"), true, false},
      // A project file can put an index outside the list into the field.
      {"direction 4", [](TaskFields &f, ControlRig &) { f.DirIndex = 4; },
       one("Please select a direction."), true, false},
      {"direction -1", [](TaskFields &f, ControlRig &) { f.DirIndex = -1; },
       one("Please select a direction."), true, false},
      // A file where the tile folder should go: the task's own message
      // first, then the creation failure.
      {"tile folder cannot be created",
       [](TaskFields &, ControlRig &r) {
         CreateDir(r.Out());
         Put(r.Out() + "t", "in the way");
       },
       [](ControlRig &r) {
         return std::vector<std::string>{"Create directory " + r.Out() +
                                             "t/ Failed.",
                                         "Error: Create task failure."};
       },
       true, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    ControlRig rig;
    TaskFields f = rig.Fields(kOneTile);
    row.change(f, rig);
    EXPECT_FALSE(rig.Control().Start(f));
    EXPECT_EQ(rig.Sink.Texts, row.messages(rig));
    EXPECT_EQ(rig.Control().Caption(), "Start");
    EXPECT_FALSE(rig.Control().TimerEnabled());
    EXPECT_TRUE(rig.Control().Threads().empty());
    EXPECT_EQ(rig.Control().CurrentTask(), nullptr);
    EXPECT_EQ(rig.Control().CurrentParameters() != nullptr, row.paramsMade);
    EXPECT_EQ(DirectoryExists(rig.Out()), row.folderMade);
    EXPECT_EQ(rig.Server.Requests(), 0);
    EXPECT_TRUE(rig.View.Captions.empty());
  }
}

// A failed creation makes the new record current but keeps the task of the
// earlier Start, whose record must stay alive for it.
TEST(StartTest, FailedCreationKeepsTheEarlierTaskAndItsRecord) {
  ControlRig rig;
  ASSERT_TRUE(rig.Control().Start(rig.Fields(kOneTile)));
  ASSERT_GT(rig.RunToEnd(), 0);
  const DownloadTask *first = rig.Control().CurrentTask();
  Put(rig.Out() + "u", "in the way");
  EXPECT_FALSE(rig.Control().Start(rig.Fields(kOneTile, "u.ktsk")));
  EXPECT_EQ(rig.Control().CurrentTask(), first);
  ASSERT_NE(rig.Control().CurrentParameters(), nullptr);
  EXPECT_EQ(rig.Control().CurrentParameters()->TaskFileName, "u.ktsk");
  EXPECT_EQ(first->Params.TaskFileName, "t.ktsk"); // not a freed record
  EXPECT_EQ(rig.Control().Caption(), "Start");
}

// Each condition of the continue rule flipped on its own.
TEST(StartTest, ContinueRuleNeedsEverySixConditions) {
  struct Row {
    const char *what;
    char separator;   // the user's decimal separator
    std::string left; // typed for left and right in both runs...
    std::string name; // ...and the task name typed in both runs
    std::function<void(TaskFields &)> second; // the second run's fields
    std::function<void(IniFile &)> edit;      // the file between the runs
    bool continues;
  };
  const auto same = [](TaskFields &) {};
  const auto none = [](IniFile &) {};
  const std::vector<Row> rows = {
      {"the same texts again", '.', "116.25", "t.ktsk", same, none, true},
      // The folder check adds the "/" to the typed folder.
      {"folder typed without its slash", '.', "116.25", "t.ktsk",
       [](TaskFields &f) { f.Path.pop_back(); }, none, true},
      {"1: another direction", '.', "116.25", "t.ktsk",
       [](TaskFields &f) { f.DirIndex = 1; }, none, false},
      {"2: stored maps type 20", '.', "116.25", "t.ktsk", same,
       [](IniFile &i) { i.WriteInteger("MapsType", "MapsType", 20); }, false},
      {"3: left typed as 116.250", '.', "116.25", "t.ktsk",
       [](TaskFields &f) { f.Left = "116.250"; }, none, false},
      {"3: right typed as 116.250", '.', "116.25", "t.ktsk",
       [](TaskFields &f) { f.Right = "116.250"; }, none, false},
      {"3: top typed as 39.90", '.', "116.25", "t.ktsk",
       [](TaskFields &f) { f.Top = "39.90"; }, none, false},
      {"3: bottom typed as 39.90", '.', "116.25", "t.ktsk",
       [](TaskFields &f) { f.Bottom = "39.90"; }, none, false},
      // The file holds the number as written ("116.25"), not "116,25".
      {"3: 116,25 where the file holds 116.25", '.', "116.25", "t.ktsk",
       [](TaskFields &f) { f.Left = f.Right = "116,25"; }, none, false},
      {"3: 116,25 typed twice, point separator", '.', "116,25", "t.ktsk", same,
       none, false},
      {"3: 116,25 typed twice, comma separator", ',', "116,25", "t.ktsk", same,
       none, true},
      {"4: another zoom typed", '.', "116.25", "t.ktsk",
       [](TaskFields &f) { f.Zoom = "14"; }, none, false},
      {"4: another zoom stored", '.', "116.25", "t.ktsk", same,
       [](IniFile &i) { i.WriteInteger("Zoom", "Zoom", 14); }, false},
      // The name must be typed with its extension.
      {"6: name typed without .ktsk", '.', "116.25", "t", same, none, false},
      {"6: .ktsk added the second time", '.', "116.25", "t.ktsk",
       [](TaskFields &f) { f.TaskName = "t"; }, none, false},
      // A folder inside the name moves the split of the project file's
      // path: neither its folder nor its name part is what was typed.
      {"5 and 6: a folder inside the task name", '.', "116.25", "sub/t.ktsk",
       same, none, false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    ControlRig rig(row.separator);
    CreateDir(rig.Out());
    CreateDir(rig.Out() + "sub");
    TaskFields f = rig.Fields(kOneTile, row.name);
    f.Left = f.Right = row.left;
    if (row.separator == ',')
      f.Top = f.Bottom = "39,9"; // as a comma user types it
    ASSERT_TRUE(rig.Control().Start(f));
    EXPECT_FALSE(rig.Control().CurrentParameters()->ContinueTask);
    ASSERT_GT(rig.RunToEnd(), 0);
    IniFile project(rig.Out() + TaskFileNameFor(row.name));
    row.edit(project);
    row.second(f);
    ASSERT_TRUE(rig.Control().Start(f));
    EXPECT_EQ(rig.Control().CurrentParameters()->ContinueTask, row.continues);
    // The first run left its positions: starting afresh was asked first.
    EXPECT_EQ(rig.Sink.Questions.size(), row.continues ? 0u : 1u);
    EXPECT_EQ(PaneHas(rig.Control(), "Log continue..."), row.continues);
    ASSERT_GT(rig.RunToEnd(), 0);
  }
}

TEST(StartTest, OneWorkerPerTileUpToEight) {
  struct Row {
    const Area *area;
    int tiles, workers;
  } rows[] = {
      {&kOneTile, 1, 1},      // a single point: one tile, one worker
      {&kThreeTiles, 3, 3},   // never more workers than tiles
      {&kTwelveTiles, 12, 8}, // at most eight
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.tiles);
    ControlRig rig;
    rig.Server.Close();
    ASSERT_TRUE(rig.Control().Start(rig.Fields(*row.area)));
    const TaskControl &c = rig.Control();
    EXPECT_EQ(c.CurrentTask()->TotalCount, row.tiles);
    EXPECT_EQ(c.CurrentParameters()->ThreadCount, row.workers);
    ASSERT_EQ(static_cast<int>(c.Threads().size()), row.workers);
    for (int i = 0; i < row.workers; ++i)
      EXPECT_EQ(c.Threads()[i]->ThreadIndex(), i);
    EXPECT_EQ(c.RunningThreads(), row.workers);
    EXPECT_EQ(c.TotalLabel(), "Total images: " + std::to_string(row.tiles));
    EXPECT_EQ(rig.View.Totals, std::vector<std::string>{c.TotalLabel()});
    EXPECT_EQ(c.Caption(), "Stop");
    EXPECT_EQ(rig.View.Captions, std::vector<std::string>{"Stop"});
    EXPECT_TRUE(c.TimerEnabled());
    EXPECT_EQ(c.TickCount(), 0);
    // The log header counts the lowered number of workers.
    EXPECT_TRUE(
        PaneHas(c, "Download threads count: " + std::to_string(row.workers)));
    // A second Start while the task runs is refused and changes nothing.
    EXPECT_FALSE(rig.Control().Start(rig.Fields(kOneTile, "other.ktsk")));
    EXPECT_EQ(c.CurrentParameters()->TaskFileName, "t.ktsk");
    rig.Server.Open();
    ASSERT_GT(rig.RunToEnd(), 0);
    EXPECT_EQ(c.Progress().Stored, row.tiles);
  }
}

TEST(StartTest, PanesAreLoadedFromTheTaskFiles) {
  ControlRig rig;
  rig.Server.Close();
  ASSERT_TRUE(rig.Control().Start(rig.Fields(kOneTile)));
  const DownloadTask &task = *rig.Control().CurrentTask();
  EXPECT_EQ(rig.Control().LogPane(), FileLines(task.LogFilePath));
  EXPECT_EQ(rig.Control().LogPane().front(),
            "Project: " + rig.Out() + "t.ktsk");
  EXPECT_TRUE(rig.Control().FailedPane().empty());
  ASSERT_EQ(rig.View.Resets.size(), 1u);
  EXPECT_EQ(rig.View.Resets[0], rig.Control().LogPane());
}

// The settings file is read at every Start: its proxy keys go into the
// record, its tile hosts into the task.
TEST(StartTest, ProxySettingsReachTheParameters) {
  struct Row {
    const char *useProxy;
    bool expected; // only exactly 1 turns the proxy on
  } rows[] = {{"1", true}, {"2", false}, {"yes", false}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.useProxy);
    // The rig's own server doubles as the proxy: it answers whole-URL
    // requests like any other.
    GatedTileServer proxy;
    ControlRig rig('.', std::string("[Proxy]\r\nUseProxy=") + row.useProxy +
                            "\r\nProxyServer=127.0.0.1\r\nProxyPort=" +
                            std::to_string(proxy.Port()) +
                            "\r\nProxyUsername=u\r\nProxyPassword=p\r\n");
    ASSERT_TRUE(rig.Control().Start(rig.Fields(kOneTile)));
    const TaskParameters &p = *rig.Control().CurrentParameters();
    EXPECT_EQ(p.Proxy.UseProxy, row.expected);
    EXPECT_EQ(p.Proxy.ProxyServer, "127.0.0.1");
    EXPECT_EQ(p.Proxy.ProxyPort, std::to_string(proxy.Port()));
    EXPECT_EQ(p.Proxy.ProxyUsername, "u");
    EXPECT_EQ(p.Proxy.ProxyPassword, "p");
    ASSERT_GT(rig.RunToEnd(), 0);
    EXPECT_EQ(proxy.Requests(), row.expected ? 1 : 0);
    EXPECT_EQ(rig.Server.Requests(), row.expected ? 0 : 1);
  }
}

// Continuing a task whose failed-tile list was deleted: the list is not
// made again, loading it fails, and the error reaches the caller.
TEST(StartTest, ContinuingWithoutTheFailedListFailsBeforeAnyWorker) {
  ControlRig rig;
  const TaskFields f = rig.Fields(kOneTile);
  ASSERT_TRUE(rig.Control().Start(f));
  ASSERT_GT(rig.RunToEnd(), 0);
  const DownloadTask *first = rig.Control().CurrentTask();
  std::filesystem::remove(first->FailedFilePath);
  const int requests = rig.Server.Requests();
  EXPECT_THROW(rig.Control().Start(f), KError);
  EXPECT_NE(rig.Control().CurrentTask(), first); // the new task is current
  EXPECT_TRUE(rig.Control().CurrentParameters()->ContinueTask);
  EXPECT_EQ(rig.Control().Caption(), "Start");
  EXPECT_FALSE(rig.Control().TimerEnabled());
  EXPECT_TRUE(rig.Control().Threads().empty());
  EXPECT_EQ(rig.Server.Requests(), requests);
}

} // namespace
} // namespace kestrane::controltest

namespace kestrane::controltest {
namespace {

// Every file under a folder with its bytes, to show that nothing changed.
std::vector<std::pair<std::string, std::string>>
Snapshot(const std::string &folder) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto &e : std::filesystem::recursive_directory_iterator(folder))
    files.emplace_back(e.path().string(),
                       e.is_regular_file() ? Slurp(e.path().string()) : "");
  std::sort(files.begin(), files.end());
  return files;
}

// One process per task: while a task control runs a project file, any
// other one (here a second control in this process, which holds its own
// open of the lock file) refuses to start it, with the message and
// without writing anything. Once the task ended, it starts. Rows: the same
// task, and the same task opened from its project file (resume).
TEST(StartTest, ARunningTaskIsRefusedToAnyOtherControl) {
  for (const bool reopened : {false, true}) {
    SCOPED_TRACE(reopened ? "opened from the project file" : "same fields");
    ControlRig first;
    first.Server.Close();
    const TaskFields fields = first.Fields(kThreeTiles);
    ASSERT_TRUE(first.Control().Start(fields));
    const std::string project = first.Out() + "t.ktsk";
    const TaskFields again = reopened ? OpenTaskFile(project).Fields() : fields;

    ControlRig second;
    const auto before = Snapshot(first.Out());
    EXPECT_FALSE(second.Control().Start(again));
    EXPECT_EQ(second.Sink.Texts,
              std::vector<std::string>{
                  "The task is running in another process: " + project});
    EXPECT_EQ(Snapshot(first.Out()), before);
    EXPECT_EQ(second.Control().Caption(), "Start");
    EXPECT_FALSE(second.Control().TimerEnabled());

    // Another task in the same folder is not held up.
    ControlRig third;
    EXPECT_TRUE(third.Control().Start(first.Fields(kOneTile, "other.ktsk")));
    EXPECT_GT(third.RunToEnd(), 0);

    first.Server.Open();
    ASSERT_GT(first.RunToEnd(), 0);
    second.Sink.Texts.clear();
    EXPECT_TRUE(second.Control().Start(again));
    EXPECT_GT(second.RunToEnd(), 0);
    EXPECT_EQ(second.Sink.Texts.size(), 1u); // the end message alone
  }
}

// Start clears the temporary files that a killed run left, and nothing
// else: only names of the program's own form, only of processes gone, only
// in the task's output and tile folders.
TEST(StartTest, RemovesOnlyItsOwnStaleTemporaries) {
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
