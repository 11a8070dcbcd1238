#include "tools/Unitftl.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "worker/TileCheck.h"
#include "worker/TileHttp.h"

namespace kestrane {

namespace {

const char kIpBanned[] =
    "Error: may be your IP is banned.\nPlease try again later.";
const char kNetworkProblem[] =
    "Error: Your network has problem, please check it.";
const char kNotFound[] = ":Error: the image is not found on server.";

// What a failed request of a run leads to, by its failure text: the table
// of the re-download run, tested in its order, first match decides.
enum class FailureVerdict {
  Repeat,   // reset or closed connection: the same request again at once
  IpBanned, // a redirect or a refusal: the run stops
  Network,  // any other socket failure: the run stops
  NotFound, // the tile is not on the server: next record
  Other,    // anything else: next record
};

bool Has(const std::string &text, const char *part) {
  return text.find(part) != std::string::npos;
}

FailureVerdict ClassifyFailure(const std::string &text) {
  if (Has(text, "10054") || Has(text, "10048") ||
      Has(text, "Connection Closed Gracefully"))
    return FailureVerdict::Repeat;
  if (Has(text, "302") || Has(text, "403"))
    return FailureVerdict::IpBanned;
  if (Has(text, "Socket Error"))
    return FailureVerdict::Network;
  if (Has(text, "404"))
    return FailureVerdict::NotFound;
  return FailureVerdict::Other;
}

enum class RecordEnd { Next, StopRun };

// One record of a run: its requests, its lines and its file.
class RecordFetch {
public:
  RecordFetch(TileHttp &http, const ReDownloadOptions &options,
              const ReDownloadRun::LineSink &onLine,
              const std::atomic<bool> *stop, ReDownloadResult &result)
      : http_(http), options_(options), onLine_(onLine), stop_(stop),
        result_(result) {}

  RecordEnd Fetch(const FtlRecord &record) {
    for (int attempt = 1;; ++attempt) {
      // Each attempt starts from an empty buffer, so the part of a body
      // that a reset attempt received never reaches the tile's file.
      buffer_.clear();
      bool ok = false;
      std::string failure;
      try {
        FetchResult r = http_.Fetch(record.Url, buffer_);
        ok = r.Ok;
        failure = std::move(r.FailureText);
      } catch (const std::exception &e) {
        failure = e.what();
      } catch (...) {
        Release();
        return RecordEnd::Next; // a failure without text adds no line
      }
      if (ok)
        return Store(record); // outside the try: its KError ends the run
      const FailureVerdict verdict = ClassifyFailure(failure);
      if (verdict == FailureVerdict::Repeat && attempt < options_.MaxAttempts &&
          !StopRequested())
        continue;
      return Fail(record, failure, verdict);
    }
  }

  const std::string &LastWritten() const { return lastWritten_; }

private:
  bool StopRequested() const { return stop_ && stop_->load(); }

  // Drops the body; a large one gives its memory back at once.
  void Release() {
    buffer_.clear();
    if (buffer_.capacity() > (std::size_t{1} << 20))
      std::string().swap(buffer_);
  }

  RecordEnd Store(const FtlRecord &record) {
    // A success status alone does not make a tile: an error page sent with
    // 200 would replace the placeholder and hide the failure for good.
    if (!BodyIsImage(buffer_)) {
      Release();
      onLine_(record.Path + ":" + record.Url + " ->failed, not an image");
      return RecordEnd::Next;
    }
    if (!WriteFileAtomicUnsynced(record.Path, buffer_))
      throw KError("Cannot create file " + record.Path);
    lastWritten_ = record.Path;
    Release();
    // The copies of bad bodies that the download left beside the tile
    // describe a download that this one has now replaced.
    std::remove((record.Path + ".crashed").c_str());
    std::remove((record.Path + ".invalid").c_str());
    onLine_(record.Path + ":" + record.Url + " ->OK");
    ++result_.Succeeded;
    return RecordEnd::Next;
  }

  RecordEnd Fail(const FtlRecord &record, const std::string &failure,
                 FailureVerdict verdict) {
    Release();
    onLine_(failure + "->" + record.Url);
    switch (verdict) {
    case FailureVerdict::IpBanned:
      onLine_(kIpBanned);
      result_.EndedByFailure = true;
      return RecordEnd::StopRun;
    case FailureVerdict::Network:
      onLine_(kNetworkProblem);
      result_.EndedByFailure = true;
      return RecordEnd::StopRun;
    case FailureVerdict::NotFound:
      onLine_(record.Url + kNotFound);
      return RecordEnd::Next;
    case FailureVerdict::Repeat: // the repeats are used up
    case FailureVerdict::Other:
      return RecordEnd::Next;
    }
    return RecordEnd::Next;
  }

  TileHttp &http_;
  const ReDownloadOptions &options_;
  const ReDownloadRun::LineSink &onLine_;
  const std::atomic<bool> *stop_;
  ReDownloadResult &result_;
  std::string buffer_;
  std::string lastWritten_;
};

} // namespace

FtlRecord SplitFtlLine(const std::string &line) {
  const size_t bar = line.find('|');
  if (bar == std::string::npos)
    return FtlRecord{std::string(), line};
  return FtlRecord{line.substr(0, bar), line.substr(bar + 1)};
}

ReDownloadRun::ReDownloadRun(ReDownloadOptions options)
    : options_(std::move(options)) {}

ReDownloadResult ReDownloadRun::Run(const std::string &ftlPath,
                                    const LineSink &onLine,
                                    const std::atomic<bool> *stop) const {
  ReDownloadResult result;
  const std::vector<std::string> lines = ReadLines(ftlPath);
  result.Records = static_cast<int>(lines.size());
  if (lines.empty()) {
    result.ListEmpty = true;
    onLine("No failed files records.");
    return result;
  }

  HttpOptions http;
  http.UseProxy = false; // the run never uses the proxy of the settings
  http.Headers = options_.Headers;
  http.ConnectTimeout = options_.ConnectTimeout;
  http.NoDataTimeout = options_.NoDataTimeout;
  {
    TileHttp client(http); // one client, one connection for the whole run
    onLine("Start...");
    RecordFetch fetch(client, options_, onLine, stop, result);
    for (const std::string &line : lines) {
      if (stop && stop->load()) {
        result.StoppedByRequest = true;
        break;
      }
      ++result.Requested;
      if (fetch.Fetch(SplitFtlLine(line)) == RecordEnd::StopRun)
        break;
    }
    // The tiles reach the disk once, at the end, rather than one by one.
    if (!fetch.LastWritten().empty())
      SyncFileSystem(fetch.LastWritten());
  }
  onLine("Download End.");
  return result;
}

} // namespace kestrane
