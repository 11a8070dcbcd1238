#pragma once
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/StopSignal.h"
#include "platform/UniqueFd.h"
#include "worker/ServerPace.h"

namespace kestrane {

// One record of a failed-tile list: the tile's file path and its URL, split
// at the first "|" of the line (a line without "|" has an empty path and the
// whole line as its URL). Neither part is trimmed.
struct FailedTileRecord {
  std::string Path;
  std::string Url;
};
FailedTileRecord SplitFailedTileLine(const std::string &line);

// Which records of a failed-tile list a run may write: a list received from
// someone else must not reach outside the task it describes. A record's file
// is taken only when its path, made absolute against the list's own folder,
// has no ".." component, has the tile file name "ks_<digits>_<digits>_
// <digits>.jpg", lies in the list's folder or a folder below it, and no
// component below the list's folder is a symbolic link. The list's folder is
// recognised both as written and with its links resolved.
class ListTileRule {
public:
  explicit ListTileRule(const std::string &listPath);
  // The absolute path to write for the record's path, or nullopt when the
  // record is refused.
  std::optional<std::string> Take(const std::string &recordPath) const;
  // The folder of a file that Take returned, opened step by step from the
  // list's folder without following a link below it; invalid when a step
  // is missing, no folder, or a link.
  UniqueFd OpenFolderOf(const std::string &file) const;

private:
  // How many of `parts` are the list's folder (as written, or with links
  // resolved); nothing when the path is not below it.
  std::optional<size_t>
  ListFolderSteps(const std::vector<std::string> &parts) const;

  std::string folder_;                // absolute, as written
  std::vector<std::string> lexical_;  // its components
  std::vector<std::string> resolved_; // the same with links resolved
};

// The line a refused record gets (after the record's path).
inline constexpr char kRefusedRecord[] =
    ":refused, not a tile file of this list's folder";

// How a re-download run requests its tiles. The defaults are the program's;
// tests shorten the time-outs.
struct RedownloadOptions {
  // The request headers of every re-download request.
  std::vector<std::string> Headers{
      "Referer: http://www.bing.com/maps/",
      "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)",
      "Connection: Keep_Alive"};
  // A time-out fails the request as socket error 10060, which stops the run.
  std::chrono::milliseconds ConnectTimeout{30000};
  std::chrono::milliseconds NoDataTimeout{60000};
  // A record whose requests are reset or closed is requested again at once,
  // up to this many requests in all; then its failure line is added and the
  // run goes on with the next record.
  int MaxAttempts = 30;
  // The user's cap: at most this many requests a second; 0: none.
  double MaxRate = 0;
  // The time of the run's pace (tests pass a faster one).
  const PaceClock *Clock = &SteadyPaceClock();
};

// What a run did, for the caller's summary and exit status.
struct RedownloadResult {
  int Records = 0;               // lines of the list
  int Requested = 0;             // records that were requested (at least once)
  int Succeeded = 0;             // records that ended " ->OK"
  bool ListEmpty = false;        // "No failed files records."
  bool EndedByFailure = false;   // a 302/403 or socket failure stopped the run
  bool StoppedByRequest = false; // the stop flag ended the run
  // Every record ended " ->OK" (an empty list counts as all done).
  bool AllOk() const { return Succeeded == Records; }
};

// One re-download run over a failed-tile list: every record's URL is fetched
// again and a good tile replaces the file named in the record; the list file
// itself is never written. A record that ListTileRule refuses is neither
// requested nor written, and gets the line path + kRefusedRecord. The
// report goes line by line to `onLine`, called on the thread that runs Run,
// as each line is added:
//   "Start...", path + ":" + url + " ->OK", the failure lines, "No failed
//   files records.", "Download End.".
// A socket failure's line holds CR LF between its number and description;
// the IP message holds one LF; each is still one line.
//
// A refusal (429, or 503 with Retry-After) is no failure of the record: the
// run pauses as the server asks, adds "Paused by the server for ..." once
// per pause, and asks for the same record again; the cap of the options
// holds throughout. Refusals for half an hour with no tile stored end the
// run as a ban does (the refusal's failure line and the IP message).
//
// Run blocks until the run has ended, so a window runs it on a thread of its
// own and marshals the lines; the class holds no state between runs and
// touches nothing shared. `stop` (may be null) is read between records and
// between the repeats of one record, and while the run waits for the
// server's pace: once set, the run ends with "Download End." after the
// request in progress.
//
// Throws KError "Cannot open file " + list path when the list cannot be read
// (before any line), and KError "Cannot create file " + tile path when a
// tile cannot be written: the run then ends at once, without "Download
// End.". A KError from setting up the HTTP client passes through too.
class RedownloadRun {
public:
  using LineSink = std::function<void(const std::string &line)>;

  explicit RedownloadRun(RedownloadOptions options = {});

  RedownloadResult Run(const std::string &ftlPath, const LineSink &onLine,
                       const StopFlag *stop = nullptr) const;

private:
  RedownloadOptions options_;
};

} // namespace kestrane
