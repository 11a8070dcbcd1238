#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/Errors.h"
#include "redownload/RedownloadRun.h"
#include "tests/support/WorkerFixtures.h"
#include "worker/TileHttp.h"

namespace kestrane {
namespace {

using test::WorkerFault;
using test::WorkerFileExists;
using test::WorkerJpeg;
using test::WorkerOk;
using test::WorkerReadFile;
using test::WorkerStatus;
using test::WorkerTempDir;
using test::WorkerTileServer;
using test::WorkerWriteFile;

const char kStart[] = "Start...";
const char kEnd[] = "Download End.";
const char kIpBanned[] =
    "Error: may be your IP is banned.\nPlease try again later.";
const char kNetwork[] = "Error: Your network has problem, please check it.";

class ReDownloadTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { HttpGlobalInit(); }

  // A tile server whose answer for each target follows `script`; the
  // targets are "/tiles/svi<n>?g=5340&dir=dir_n".
  void Serve(WorkerTileServer::Script script) {
    server_ = std::make_unique<WorkerTileServer>(std::move(script));
  }
  static std::string Target(int n) {
    return "/tiles/svi" + std::to_string(n) + "?g=5340&dir=dir_n";
  }
  std::string Url(int n) const {
    return server_->Server().BaseUrl() + Target(n);
  }
  std::string TilePath(int n) const {
    return dir_.Path() + "ks_" + std::to_string(n) + "_1_18.jpg";
  }
  std::string Record(int n) const { return TilePath(n) + "|" + Url(n); }

  // Writes the list (each line ended by CR LF) and runs it.
  RedownloadResult RunList(const std::vector<std::string> &records,
                           RedownloadOptions options = ShortOptions(),
                           const StopFlag *stop = nullptr) {
    std::string text;
    for (const std::string &r : records)
      text += r + "\r\n";
    WorkerWriteFile(ListPath(), text);
    return RedownloadRun(std::move(options))
        .Run(
            ListPath(), [this](const std::string &l) { lines_.push_back(l); },
            stop);
  }
  static RedownloadOptions ShortOptions() {
    RedownloadOptions o;
    o.ConnectTimeout = std::chrono::milliseconds(2000);
    o.NoDataTimeout = std::chrono::milliseconds(2000);
    return o;
  }
  std::string ListPath() const { return dir_.Path() + "t_failed.ftl"; }
  std::string OkLine(int n) const {
    return TilePath(n) + ":" + Url(n) + " ->OK";
  }

  WorkerTempDir dir_;
  std::unique_ptr<WorkerTileServer> server_;
  std::vector<std::string> lines_;
  const std::string jpeg_ = WorkerJpeg();
};

TEST_F(ReDownloadTest, EmptyListGivesOnlyNoRecordsLine) {
  Serve([&](const HttpRequest &, int) { return WorkerOk(jpeg_); });
  const RedownloadResult r = RunList({});
  EXPECT_EQ(lines_, std::vector<std::string>{"No failed files records."});
  EXPECT_TRUE(r.ListEmpty);
  EXPECT_TRUE(r.AllOk());
  EXPECT_EQ(server_->TotalRequests(), 0);
}

TEST_F(ReDownloadTest, NotFoundThenOkGivesExactLines) {
  Serve([&](const HttpRequest &req, int) {
    return req.Target == Target(1) ? WorkerStatus(404, "Not Found")
                                   : WorkerOk(jpeg_);
  });
  const RedownloadResult r = RunList({Record(1), Record(2)});
  const std::vector<std::string> want = {
      kStart, "404 Not Found->" + Url(1),
      Url(1) + ":Error: the image is not found on server.", OkLine(2), kEnd};
  EXPECT_EQ(lines_, want);
  EXPECT_FALSE(WorkerFileExists(TilePath(1))) << "a failure wrote the tile";
  EXPECT_EQ(WorkerReadFile(TilePath(2)), jpeg_);
  EXPECT_EQ(r.Succeeded, 1);
  EXPECT_FALSE(r.AllOk());
}

TEST_F(ReDownloadTest, StatusFailuresByTheirRow) {
  struct Row {
    int Status;
    const char *Reason;
    std::vector<std::string> Extra; // after the failure line
    bool RunGoesOn;
    const char *Fault;
  };
  const std::vector<Row> rows = {
      {403, "Forbidden", {kIpBanned}, false, "a refusal did not stop"},
      {302, "Found", {kIpBanned}, false, "a redirect followed or ignored"},
      {500, "Internal Server Error", {}, true, "a 500 stopped the run"},
      {400, "Bad Request", {}, true, "400 taken for not found"},
      {301, "Moved Permanently", {}, true, "301 taken for 302"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.Fault);
    lines_.clear();
    Serve([&](const HttpRequest &req, int) {
      if (req.Target != Target(1))
        return WorkerOk(jpeg_);
      HttpResponse r = WorkerStatus(row.Status, row.Reason);
      r.Headers.push_back({"Location", server_->Server().BaseUrl() + "/x"});
      return r;
    });
    const RedownloadResult r = RunList({Record(1), Record(2), Record(3)});
    std::vector<std::string> want = {kStart, std::to_string(row.Status) + " " +
                                                 row.Reason + "->" + Url(1)};
    want.insert(want.end(), row.Extra.begin(), row.Extra.end());
    if (row.RunGoesOn) {
      want.push_back(OkLine(2));
      want.push_back(OkLine(3));
    }
    want.push_back(kEnd);
    EXPECT_EQ(lines_, want);
    EXPECT_EQ(r.EndedByFailure, !row.RunGoesOn);
    // Later records of a stopped run are not requested.
    EXPECT_EQ(server_->Count(Target(2)), row.RunGoesOn ? 1 : 0);
    EXPECT_EQ(server_->Count(Target(3)), row.RunGoesOn ? 1 : 0);
    EXPECT_EQ(server_->Count("/x"), 0);
  }
}

TEST_F(ReDownloadTest, ResetAndClosedAreRepeatedSilently) {
  const HttpFault faults[] = {HttpFault::Reset, HttpFault::CloseWithoutAnswer,
                              HttpFault::PartialBodyThenReset};
  for (HttpFault fault : faults) {
    SCOPED_TRACE(static_cast<int>(fault));
    lines_.clear();
    Serve([&](const HttpRequest &, int nth) {
      if (nth > 2)
        return WorkerOk(jpeg_);
      HttpResponse r = WorkerOk(jpeg_);
      r.Fault = fault;
      r.PartialBytes = jpeg_.size() / 3;
      return r;
    });
    RunList({Record(1)});
    EXPECT_EQ(lines_, (std::vector<std::string>{kStart, OkLine(1), kEnd}));
    EXPECT_EQ(server_->Count(Target(1)), 3);
    // Bytes of an interrupted attempt never reach the file.
    EXPECT_EQ(WorkerReadFile(TilePath(1)), jpeg_);
  }
}

TEST_F(ReDownloadTest, ThirtyResetsGiveTheFailureLineThenNextRecord) {
  Serve([&](const HttpRequest &req, int) {
    return req.Target == Target(1) ? WorkerFault(HttpFault::Reset)
                                   : WorkerOk(jpeg_);
  });
  const RedownloadResult r = RunList({Record(1), Record(2)});
  EXPECT_EQ(server_->Count(Target(1)), 30);
  ASSERT_EQ(lines_.size(), 4u);
  EXPECT_EQ(lines_[0], kStart);
  EXPECT_EQ(lines_[1].rfind("Socket Error # 10054\r\n", 0), 0u) << lines_[1];
  EXPECT_TRUE(lines_[1].ends_with("->" + Url(1))) << lines_[1];
  EXPECT_EQ(lines_[2], OkLine(2));
  EXPECT_EQ(lines_[3], kEnd);
  EXPECT_EQ(r.Succeeded, 1);
}

TEST_F(ReDownloadTest, RecordWithoutBarHasEmptyPath) {
  Serve([&](const HttpRequest &, int) { return WorkerOk(jpeg_); });
  const RedownloadResult r = RunList({Url(1), Record(2)});
  // The whole line was the URL; an empty path names no tile file, so the
  // record is refused unrequested and the run goes on.
  EXPECT_EQ(server_->Count(Target(1)), 0);
  EXPECT_EQ(server_->Count(Target(2)), 1);
  EXPECT_EQ(lines_, (std::vector<std::string>{kStart, kRefusedRecord, OkLine(2),
                                              kEnd}));
  EXPECT_EQ(r.Requested, 1);
  EXPECT_FALSE(r.AllOk());
}

TEST_F(ReDownloadTest, MissingFolderEndsRunWithCannotCreate) {
  Serve([&](const HttpRequest &, int) { return WorkerOk(jpeg_); });
  const std::string path = dir_.Path() + "gone/ks_1_1_18.jpg";
  try {
    RunList({path + "|" + Url(1)});
    FAIL() << "no error for a folder that does not exist";
  } catch (const KError &e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + path);
  }
  EXPECT_EQ(lines_, std::vector<std::string>{kStart});
}

TEST_F(ReDownloadTest, TileListedTwiceIsRequestedTwice) {
  Serve([&](const HttpRequest &, int) { return WorkerOk(jpeg_); });
  const RedownloadResult r = RunList({Record(1), Record(1)});
  EXPECT_EQ(lines_,
            (std::vector<std::string>{kStart, OkLine(1), OkLine(1), kEnd}));
  EXPECT_EQ(server_->Count(Target(1)), 2);
  EXPECT_TRUE(r.AllOk());
  // One client for the run: the records share one connection.
  EXPECT_EQ(server_->Server().ConnectionsAccepted(), 1u);
}

TEST_F(ReDownloadTest, ListFileKeepsContentsAndTime) {
  Serve([&](const HttpRequest &req, int) {
    return req.Target == Target(1) ? WorkerStatus(500, "Internal Server Error")
                                   : WorkerOk(jpeg_);
  });
  const std::string text = Record(1) + "\r\n" + Record(2) + "\r\n";
  WorkerWriteFile(ListPath(), text);
  // A time in the past, so that any write would show.
  const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, ListPath().c_str(), past, 0), 0);
  RedownloadRun().Run(ListPath(), [](const std::string &) {});
  struct stat st {};
  ASSERT_EQ(::stat(ListPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 0);
  EXPECT_EQ(WorkerReadFile(ListPath()), text);
}

TEST_F(ReDownloadTest, SuccessBodyThatIsNoImageLeavesTheFile) {
  const std::string page = "<html><body>maintenance</body></html>";
  const std::string crashed = std::string("\xFF\xD8", 2) + "no picture";
  const std::string cutShort = test::WorkerJpegCutInScan(jpeg_);
  Serve([&](const HttpRequest &req, int) {
    return WorkerOk(req.Target == Target(1)   ? page
                    : req.Target == Target(2) ? crashed
                                              : cutShort);
  });
  for (int n = 1; n <= 3; ++n)
    WorkerWriteFile(TilePath(n), "placeholder");
  const RedownloadResult r = RunList({Record(1), Record(2), Record(3)});
  const std::vector<std::string> want = {
      kStart, TilePath(1) + ":" + Url(1) + " ->failed, not an image",
      TilePath(2) + ":" + Url(2) + " ->failed, not an image",
      TilePath(3) + ":" + Url(3) + " ->failed, not an image", kEnd};
  EXPECT_EQ(lines_, want);
  for (int n = 1; n <= 3; ++n)
    EXPECT_EQ(WorkerReadFile(TilePath(n)), "placeholder");
  EXPECT_EQ(r.Succeeded, 0);
}

TEST_F(ReDownloadTest, GoodTileReplacesPlaceholderAndSideFiles) {
  Serve([&](const HttpRequest &, int) { return WorkerOk(jpeg_); });
  WorkerWriteFile(TilePath(1), "placeholder");
  WorkerWriteFile(TilePath(1) + ".crashed", "\xFF\xD8 bad");
  WorkerWriteFile(TilePath(1) + ".invalid", "GIF89a");
  RunList({Record(1)});
  EXPECT_EQ(WorkerReadFile(TilePath(1)), jpeg_);
  EXPECT_FALSE(WorkerFileExists(TilePath(1) + ".crashed"));
  EXPECT_FALSE(WorkerFileExists(TilePath(1) + ".invalid"));
  EXPECT_EQ(test::WorkerFolderNames(dir_.Path()),
            (std::vector<std::string>{"ks_1_1_18.jpg", "t_failed.ftl"}));
}

TEST_F(ReDownloadTest, RefusedPortStopsWithNetworkMessage) {
  std::string refused;
  {
    HttpServer closed([](const HttpRequest &) { return HttpResponse{}; });
    refused = closed.BaseUrl() + Target(1);
  }
  const std::string record = TilePath(1) + "|" + refused;
  Serve([&](const HttpRequest &, int) { return WorkerOk(jpeg_); });
  const RedownloadResult r = RunList({record, Record(2)});
  ASSERT_EQ(lines_.size(), 4u);
  EXPECT_EQ(lines_[1],
            "Socket Error # 10061\r\nConnection refused.->" + refused);
  EXPECT_EQ(lines_[2], kNetwork);
  EXPECT_EQ(lines_[3], kEnd);
  EXPECT_EQ(server_->Count(Target(2)), 0);
  EXPECT_TRUE(r.EndedByFailure);
}

TEST_F(ReDownloadTest, SilentServerTimesOutAndStopsTheRun) {
  Serve([&](const HttpRequest &, int) {
    HttpResponse r = WorkerOk(jpeg_);
    r.Fault = HttpFault::StallAfterHeaders;
    r.StallMs = 10000;
    return r;
  });
  RedownloadOptions o = ShortOptions();
  o.NoDataTimeout = std::chrono::milliseconds(300);
  RunList({Record(1), Record(2)}, o);
  ASSERT_EQ(lines_.size(), 4u);
  EXPECT_EQ(lines_[1],
            "Socket Error # 10060\r\nConnection timed out.->" + Url(1));
  EXPECT_EQ(lines_[2], kNetwork);
  EXPECT_EQ(server_->Count(Target(2)), 0);
  server_->Server().Stop();
}

TEST_F(ReDownloadTest, MissingListIsCannotOpen) {
  const std::string path = dir_.Path() + "none.ftl";
  try {
    RedownloadRun().Run(path,
                        [this](const std::string &l) { lines_.push_back(l); });
    FAIL() << "no error for a missing list";
  } catch (const KError &e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + path);
  }
  EXPECT_TRUE(lines_.empty());
}

TEST_F(ReDownloadTest, StopFlagEndsRunAfterCurrentRecord) {
  StopFlag stop;
  Serve([&](const HttpRequest &, int) {
    stop.Request(); // the Stop button, while the first record is on its way
    return WorkerOk(jpeg_);
  });
  WorkerWriteFile(ListPath(), Record(1) + "\r\n" + Record(2) + "\r\n");
  const RedownloadResult r =
      RedownloadRun(ShortOptions())
          .Run(
              ListPath(), [&](const std::string &l) { lines_.push_back(l); },
              &stop);
  EXPECT_EQ(lines_, (std::vector<std::string>{kStart, OkLine(1), kEnd}));
  EXPECT_EQ(server_->Count(Target(2)), 0);
  EXPECT_TRUE(r.StoppedByRequest);
  EXPECT_FALSE(r.AllOk());
}

TEST_F(ReDownloadTest, SendsTheRunsHeadersWithoutProxy) {
  Serve([&](const HttpRequest &, int) { return WorkerOk(jpeg_); });
  // A proxy in the environment must not be used.
  ::setenv("http_proxy", "http://127.0.0.9:9", 1);
  RunList({Record(1)});
  ::unsetenv("http_proxy");
  const std::vector<HttpRequest> reqs = server_->Server().Requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].Target, Target(1));
  EXPECT_EQ(reqs[0].Header("Referer"), "http://www.bing.com/maps/");
  EXPECT_EQ(reqs[0].Header("User-Agent"),
            "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
  EXPECT_EQ(reqs[0].Header("Connection"), "Keep_Alive");
}

TEST_F(ReDownloadTest, EveryLineEndCountsAndEmptyLinesAreRecords) {
  Serve([&](const HttpRequest &, int) { return WorkerOk(jpeg_); });
  // LF, CR, an empty line, CR LF, and a last line without an end.
  WorkerWriteFile(ListPath(),
                  Record(1) + "\n" + Record(2) + "\r\r\n" + Record(3));
  const RedownloadResult r =
      RedownloadRun(ShortOptions()).Run(ListPath(), [&](const std::string &l) {
        lines_.push_back(l);
      });
  EXPECT_EQ(r.Records, 4);
  EXPECT_EQ(r.Requested, 3);
  ASSERT_EQ(lines_.size(), 6u);
  EXPECT_EQ(lines_[1], OkLine(1));
  EXPECT_EQ(lines_[2], OkLine(2));
  // The empty record: no tile file, so it is refused and not requested.
  EXPECT_EQ(lines_[3], kRefusedRecord);
  EXPECT_EQ(lines_[4], OkLine(3));
  EXPECT_EQ(server_->TotalRequests(), 3);
}

// A list received from someone else names files outside its task: none of
// them is requested or written, each gets its refusal line, and the run
// goes on with the records that name tiles of the list's folder.
TEST_F(ReDownloadTest, RecordsOutsideTheListsFolderAreRefused) {
  Serve([&](const HttpRequest &, int) { return WorkerOk(jpeg_); });
  WorkerTempDir outside;
  const std::string victim = outside.Path() + "ks_7_7_18.jpg";
  WorkerWriteFile(victim, "user's file");
  WorkerWriteFile(victim + ".crashed", "kept");
  ASSERT_EQ(::mkdir((dir_.Path() + "t").c_str(), 0777), 0);
  // A folder link and a file link inside the list's folder, both leading out.
  ASSERT_EQ(::symlink(outside.Path().c_str(), (dir_.Path() + "ln").c_str()), 0);
  ASSERT_EQ(
      ::symlink(victim.c_str(), (dir_.Path() + "t/ks_8_8_18.jpg").c_str()), 0);
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/root";
  const char *refusedPaths[] = {
      "",                    // no path at all
      "/etc/passwd",         // a system file
      "/etc/ks_1_1_18.jpg",  // a tile name elsewhere
      "../../x",             // climbs out
      "../ks_1_1_18.jpg",    // climbs out with a tile name
      "t/../ks_1_1_18.jpg",  // ".." even when it stays in
      "ln/ks_7_7_18.jpg",    // through a folder link
      "t/ks_8_8_18.jpg",     // a link at the tile itself
      "t/ks_1_1_18.jpg.bak", // not the tile name form
      "t/notes.txt",         //
      "t/ks_1_1.jpg",        // two numbers only
      "t/ks_1_1_18.jpeg",    //
      "t/ks_a_1_18.jpg",     // not digits
      "t/KS_1_1_18.jpg",     // another case
  };
  std::vector<std::string> records;
  std::vector<std::string> want = {kStart};
  for (const char *p : refusedPaths) {
    records.push_back(std::string(p) + "|" + Url(9));
    want.push_back(std::string(p) + kRefusedRecord);
  }
  records.push_back(home + "/.bashrc|" + Url(9));
  want.push_back(home + "/.bashrc" + kRefusedRecord);
  records.push_back(victim + "|" + Url(9));
  want.push_back(victim + kRefusedRecord);
  // Taken: relative to the list's folder (not to the working folder), and
  // absolute inside it.
  records.push_back("t/ks_1_2_18.jpg|" + Url(1));
  want.push_back("t/ks_1_2_18.jpg:" + Url(1) + " ->OK");
  records.push_back(dir_.Path() + "t/./ks_2_2_18.jpg|" + Url(2));
  want.push_back(dir_.Path() + "t/./ks_2_2_18.jpg:" + Url(2) + " ->OK");
  want.push_back(kEnd);

  const RedownloadResult r = RunList(records);
  EXPECT_EQ(lines_, want);
  EXPECT_EQ(server_->Count(Target(9)), 0) << "a refused record was requested";
  EXPECT_EQ(r.Requested, 2);
  EXPECT_EQ(r.Succeeded, 2);
  EXPECT_FALSE(r.AllOk());
  EXPECT_EQ(WorkerReadFile(victim), "user's file");
  EXPECT_TRUE(WorkerFileExists(victim + ".crashed")) << "side file removed";
  EXPECT_EQ(
      test::WorkerFolderNames(outside.Path()),
      (std::vector<std::string>{"ks_7_7_18.jpg", "ks_7_7_18.jpg.crashed"}));
  EXPECT_EQ(WorkerReadFile(dir_.Path() + "t/ks_1_2_18.jpg"), jpeg_);
  EXPECT_EQ(WorkerReadFile(dir_.Path() + "t/ks_2_2_18.jpg"), jpeg_);
}

// The record's folder is opened before its request: put aside and replaced
// by a link to another folder while the tile is on its way, it still gets
// the tile, and the side files it had are the ones removed.
TEST_F(ReDownloadTest, AFolderSwappedForALinkMidRequestKeepsTheTile) {
  WorkerTempDir elsewhere;
  WorkerWriteFile(elsewhere.Path() + "ks_1_2_18.jpg", "someone's file");
  WorkerWriteFile(elsewhere.Path() + "ks_1_2_18.jpg.crashed", "theirs");
  const std::string folder = dir_.Path() + "t";
  const std::string moved = dir_.Path() + "moved";
  ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
  WorkerWriteFile(folder + "/ks_1_2_18.jpg.crashed", "old body");
  Serve([&](const HttpRequest &, int) {
    EXPECT_EQ(::rename(folder.c_str(), moved.c_str()), 0);
    EXPECT_EQ(::symlink(elsewhere.Path().c_str(), folder.c_str()), 0);
    return WorkerOk(jpeg_);
  });
  const RedownloadResult r = RunList({"t/ks_1_2_18.jpg|" + Url(1)});
  EXPECT_EQ(r.Succeeded, 1);
  EXPECT_EQ(WorkerReadFile(elsewhere.Path() + "ks_1_2_18.jpg"),
            "someone's file");
  EXPECT_TRUE(WorkerFileExists(elsewhere.Path() + "ks_1_2_18.jpg.crashed"));
  EXPECT_EQ(test::WorkerFolderNames(moved),
            std::vector<std::string>{"ks_1_2_18.jpg"});
  EXPECT_EQ(WorkerReadFile(moved + "/ks_1_2_18.jpg"), jpeg_);
}

TEST(ListTileRule, TakesTheListsFolderAsWrittenAndResolved) {
  test::WorkerTempDir dir;
  ASSERT_EQ(::mkdir((dir.Path() + "real").c_str(), 0777), 0);
  ASSERT_EQ(
      ::symlink((dir.Path() + "real").c_str(), (dir.Path() + "alias").c_str()),
      0);
  // The user reaches the list through a link of their own: records may name
  // the folder either way, and the link above the list's folder is theirs.
  const ListTileRule rule(dir.Path() + "alias/t_failed.ftl");
  struct Row {
    std::string record;
    bool taken;
  };
  const Row rows[] = {
      {dir.Path() + "alias/t/ks_1_2_3.jpg", true},
      {dir.Path() + "real/t/ks_1_2_3.jpg", true},
      {dir.Path() + "alias/ks_1_2_3.jpg", true}, // beside the list
      {dir.Path() + "ks_1_2_3.jpg", false},      // above it
      {dir.Path() + "realx/ks_1_2_3.jpg", false},
      {"t//ks_1_2_3.jpg", true},
  };
  for (const Row &row : rows)
    EXPECT_EQ(rule.Take(row.record).has_value(), row.taken) << row.record;
}

TEST(SplitFailedTileLine, SplitsAtTheFirstBar) {
  struct Row {
    const char *Line, *Path, *Url, *Fault;
  };
  const Row rows[] = {
      {"/a/t.jpg|http://h/x", "/a/t.jpg", "http://h/x", "plain record"},
      {"/a/t.jpg|http://h/x|y", "/a/t.jpg", "http://h/x|y", "split at last"},
      {"http://h/x", "", "http://h/x", "no bar: not all URL"},
      {" /a.jpg | u ", " /a.jpg ", " u ", "parts trimmed"},
      {"", "", "", "empty line"},
      {"|", "", "", "bar alone"},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.Fault);
    const FailedTileRecord rec = SplitFailedTileLine(r.Line);
    EXPECT_EQ(rec.Path, r.Path);
    EXPECT_EQ(rec.Url, r.Url);
  }
}

} // namespace
} // namespace kestrane
