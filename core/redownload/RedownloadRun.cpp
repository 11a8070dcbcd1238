#include "redownload/RedownloadRun.h"

#include <climits>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "redownload/TileFileHelper.h"
#include "tile/SideFiles.h"
#include "tile/TileName.h"
#include "worker/FailureTexts.h"
#include "worker/Refusal.h"
#include "worker/TileHttp.h"

namespace kestrane {

namespace {

// What a failed request of a run leads to, by its failure text: the table
// of the re-download run, tested in its order, first match decides.
enum class FailureVerdict {
  Repeat,   // reset or closed connection: the same request again at once
  IpBanned, // a redirect or a refusal: the run stops
  Network,  // any other socket failure: the run stops
  NotFound, // the tile is not on the server: next record
  Other,    // anything else: next record
};

bool Has(const std::string &text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

FailureVerdict ClassifyFailure(const std::string &text) {
  if (Has(text, kConnectionReset) || Has(text, kAddressInUse) ||
      Has(text, kClosedGracefully))
    return FailureVerdict::Repeat;
  if (Has(text, kStatusFound) || Has(text, kStatusForbidden))
    return FailureVerdict::IpBanned;
  if (Has(text, kSocketError))
    return FailureVerdict::Network;
  if (Has(text, kStatusNotFound))
    return FailureVerdict::NotFound;
  return FailureVerdict::Other;
}

enum class RecordEnd { Next, StopRun };

// One record of a run: its requests, its lines and its file.
class RecordFetch {
public:
  RecordFetch(TileHttp &http, ServerPace &pace,
              const RedownloadOptions &options,
              const RedownloadRun::LineSink &onLine, const StopFlag *stop,
              RedownloadResult &result)
      : http_(http), pace_(pace), options_(options), onLine_(onLine),
        stop_(stop), result_(result) {}

  // `file`: where the record's tile goes, as ListTileRule took it, and
  // `folder` its folder, opened before the request (invalid when it could
  // not be); the store of the tile keeps it.
  RecordEnd Fetch(const FailedTileRecord &record, const std::string &file,
                  UniqueFd folder) {
    for (int attempt = 1;;) {
      ServerPace::time_point sent;
      const ServerPace::Turn turn = pace_.Wait(stop_, sent);
      if (turn != ServerPace::Turn::Go)
        Settle(); // the record before says its line first
      switch (turn) {
      case ServerPace::Turn::Go:
        break;
      case ServerPace::Turn::Stop:
        result_.StoppedByRequest = true;
        return RecordEnd::StopRun;
      case ServerPace::Turn::GiveUp:
        return Fail(record, pace_.LastRefusal(), FailureVerdict::IpBanned);
      }
      // Each attempt starts from an empty buffer, so the part of a body
      // that a reset attempt received never reaches the tile's file. The
      // body of a store before comes back for reuse.
      if (buffer_.capacity() < spare_.capacity())
        buffer_.swap(spare_);
      buffer_.clear();
      bool ok = false;
      std::string failure;
      std::optional<Refusal> refused;
      try {
        FetchResult r = http_.Fetch(record.Url, buffer_);
        ok = r.Ok;
        refused = RefusalOf(r, std::chrono::system_clock::now());
        failure = std::move(r.FailureText);
      } catch (const std::exception &e) {
        failure = e.what();
      } catch (...) {
        Settle();
        Release();
        return RecordEnd::Next; // a failure without text adds no line
      }
      // The store of the record before ran meanwhile: its line comes first.
      Settle();
      if (refused) {
        if (!Paused(*refused, sent))
          return Fail(record, refused->Status, FailureVerdict::IpBanned);
        continue; // no attempt: the same request once the pause is over
      }
      pace_.Answered(sent);
      if (ok) {
        // Checked and written while the next record's request is on its
        // way; Settle reports it.
        helper_.Start(folder.Get(), ExtractFileName(file), buffer_);
        stored_ = {record, file, std::move(folder)};
        return RecordEnd::Next;
      }
      const FailureVerdict verdict = ClassifyFailure(failure);
      if (verdict == FailureVerdict::Repeat && attempt < options_.MaxAttempts &&
          !StopRequested()) {
        ++attempt;
        continue;
      }
      return Fail(record, failure, verdict);
    }
  }

  // Finishes the store of the last record fetched, if any, and says its
  // line; a tile that cannot be written ends the run (KError).
  void Settle() {
    const std::optional<TileFileHelper::Outcome> outcome =
        helper_.Finish(spare_);
    if (!outcome)
      return;
    const FailedTileRecord &record = stored_.Record;
    // A success status alone does not make a tile: an error page sent with
    // 200 would replace the placeholder and hide the failure for good.
    Release(spare_);
    if (!outcome->IsImage) {
      onLine_(record.Path + ":" + record.Url + " ->failed, not an image");
      return;
    }
    if (!outcome->Written)
      throw KError(ErrorCause::CannotWrite,
                   "Cannot create file " + record.Path);
    lastWritten_ = stored_.File;
    // The copies of bad bodies that the download left beside the tile
    // describe a download that this one has now replaced.
    sideFiles_.RemoveFor(stored_.Folder.Get(), stored_.File);
    pace_.Stored();
    onLine_(record.Path + ":" + record.Url + " ->OK");
    ++result_.Succeeded;
  }

  const std::string &LastWritten() const { return lastWritten_; }

private:
  bool StopRequested() const { return stop_ && stop_->Requested(); }

  // A refusal's pause, its line added when it begins one; false when the
  // server has refused for so long that the run ends.
  bool Paused(const Refusal &r, ServerPace::time_point sent) {
    const PaceModel::RefusalEffect effect =
        pace_.Refused(sent, r.RetryAfter, r.Status);
    if (effect.Kind == PaceModel::Effect::NewPause)
      onLine_(PauseLine(
          std::chrono::duration_cast<std::chrono::milliseconds>(effect.Pause),
          r.Status));
    return effect.Kind != PaceModel::Effect::GiveUp;
  }

  // Drops the body; a large one gives its memory back at once.
  static void Release(std::string &body) {
    body.clear();
    if (body.capacity() > (std::size_t{1} << 20))
      std::string().swap(body);
  }
  void Release() { Release(buffer_); }

  RecordEnd Fail(const FailedTileRecord &record, const std::string &failure,
                 FailureVerdict verdict) {
    Release();
    onLine_(failure + "->" + record.Url);
    switch (verdict) {
    case FailureVerdict::IpBanned:
      onLine_(std::string(kBannedMessage));
      result_.EndedByFailure = true;
      return RecordEnd::StopRun;
    case FailureVerdict::Network:
      onLine_(std::string(kNetworkMessage));
      result_.EndedByFailure = true;
      return RecordEnd::StopRun;
    case FailureVerdict::NotFound:
      onLine_(record.Url + ":" + std::string(kNotFoundMessage));
      return RecordEnd::Next;
    case FailureVerdict::Repeat: // the repeats are used up
    case FailureVerdict::Other:
      return RecordEnd::Next;
    }
    return RecordEnd::Next;
  }

  TileHttp &http_;
  ServerPace &pace_;
  const RedownloadOptions &options_;
  const RedownloadRun::LineSink &onLine_;
  const StopFlag *stop_;
  RedownloadResult &result_;
  std::string buffer_, spare_;
  std::string lastWritten_;
  SideFileRemover sideFiles_;
  struct Stored {
    FailedTileRecord Record;
    std::string File;
    UniqueFd Folder; // held until the store is settled
  } stored_;         // the record whose store the helper runs
  TileFileHelper helper_;
};

// Path components without empty and "." ones; ".." stays, for the caller
// to decide.
std::vector<std::string> Components(const std::string &path) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos)
      slash = path.size();
    std::string part = path.substr(start, slash - start);
    if (!part.empty() && part != ".")
      out.push_back(std::move(part));
    start = slash + 1;
  }
  return out;
}

std::string Join(const std::vector<std::string> &parts, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i)
    out += "/" + parts[i];
  return out.empty() ? "/" : out;
}

bool StartsWith(const std::vector<std::string> &path,
                const std::vector<std::string> &folder) {
  if (folder.empty() || path.size() <= folder.size())
    return false;
  for (size_t i = 0; i < folder.size(); ++i)
    if (path[i] != folder[i])
      return false;
  return true;
}

// The tiles reach the disk once, at the end of a run, rather than one by
// one. A failure leaves the run's outcome as it is (the tiles are in place
// for the system) but says that a power cut could still lose them.
void SettleTiles(const std::string &lastWritten,
                 const RedownloadRun::LineSink &onLine) {
  if (lastWritten.empty() || SyncFileSystem(lastWritten))
    return;
  onLine("Error: the tiles written may not have reached the disk: " +
         ExtractFilePath(lastWritten));
}

} // namespace

ListTileRule::ListTileRule(const std::string &listPath) {
  std::string folder = ExtractFilePath(listPath);
  if (folder.empty() || folder.front() != '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) != nullptr)
      folder = IncludeTrailingDelimiter(cwd) + folder;
  }
  // The folder as written, its ".." steps taken: the list names it so.
  for (std::string &part : Components(folder)) {
    if (part != "..")
      lexical_.push_back(std::move(part));
    else if (!lexical_.empty())
      lexical_.pop_back();
  }
  folder_ = Join(lexical_, lexical_.size());
  if (char *real = ::realpath(folder_.c_str(), nullptr)) {
    resolved_ = Components(real);
    std::free(real);
  }
}

std::optional<std::string>
ListTileRule::Take(const std::string &recordPath) const {
  if (recordPath.empty() || lexical_.empty())
    return std::nullopt;
  const std::vector<std::string> parts = Components(
      recordPath.front() == '/' ? recordPath : folder_ + "/" + recordPath);
  if (parts.empty() || !HasTileFileNameForm(parts.back()))
    return std::nullopt;
  for (const std::string &p : parts)
    if (p == "..")
      return std::nullopt;
  const std::optional<size_t> base = ListFolderSteps(parts);
  if (!base)
    return std::nullopt;
  // Below the list's folder no step may be a link: a link there could lead
  // the write anywhere. Past the first missing step nothing is there to be
  // one (and the write then fails as for any missing folder).
  for (size_t i = *base + 1; i <= parts.size(); ++i) {
    struct stat st;
    if (::lstat(Join(parts, i).c_str(), &st) != 0)
      break;
    if (S_ISLNK(st.st_mode))
      return std::nullopt;
  }
  return Join(parts, parts.size());
}

std::optional<size_t>
ListTileRule::ListFolderSteps(const std::vector<std::string> &parts) const {
  if (StartsWith(parts, lexical_))
    return lexical_.size();
  if (StartsWith(parts, resolved_))
    return resolved_.size();
  return std::nullopt;
}

UniqueFd ListTileRule::OpenFolderOf(const std::string &file) const {
  const std::vector<std::string> parts = Components(file);
  const std::optional<size_t> found = ListFolderSteps(parts);
  if (!found)
    return UniqueFd();
  const size_t base = *found;
  // The list's folder as the user named it, links and all; below it one
  // step at a time, none of them a link, each relative to the one before.
  UniqueFd folder(
      ::open(Join(parts, base).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (size_t i = base; folder.Valid() && i + 1 < parts.size(); ++i)
    folder.Reset(::openat(folder.Get(), parts[i].c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  return folder;
}

FailedTileRecord SplitFailedTileLine(const std::string &line) {
  const size_t bar = line.find(kRecordSeparator);
  if (bar == std::string::npos)
    return FailedTileRecord{std::string(), line};
  return FailedTileRecord{line.substr(0, bar), line.substr(bar + 1)};
}

RedownloadRun::RedownloadRun(RedownloadOptions options)
    : options_(std::move(options)) {}

RedownloadResult RedownloadRun::Run(const std::string &ftlPath,
                                    const LineSink &onLine,
                                    const StopFlag *stop) const {
  RedownloadResult result;
  const std::vector<std::string> lines = ReadLines(ftlPath);
  result.Records = static_cast<int>(lines.size());
  if (lines.empty()) {
    result.ListEmpty = true;
    onLine("No failed files records.");
    return result;
  }

  HttpOptions http; // no proxy: the run never uses the one of the settings
  http.Headers = options_.Headers;
  http.ConnectTimeout = options_.ConnectTimeout;
  http.NoDataTimeout = options_.NoDataTimeout;
  {
    TileHttp client(http); // one client, one connection for the whole run
    // One pace for every request of the run.
    ServerPace pace(PaceLimits{options_.MaxRate, 0}, *options_.Clock);
    onLine("Start...");
    RecordFetch fetch(client, pace, options_, onLine, stop, result);
    const ListTileRule rule(ftlPath);
    for (const std::string &line : lines) {
      if (stop && stop->Requested()) {
        result.StoppedByRequest = true;
        break;
      }
      const FailedTileRecord record = SplitFailedTileLine(line);
      const std::optional<std::string> file = rule.Take(record.Path);
      if (!file) {
        fetch.Settle();
        onLine(record.Path + kRefusedRecord);
        continue;
      }
      ++result.Requested;
      // Opened before the request: a folder swapped for a link while the
      // tile is on its way does not take the write elsewhere.
      if (fetch.Fetch(record, *file, rule.OpenFolderOf(*file)) ==
          RecordEnd::StopRun)
        break;
    }
    fetch.Settle();
    SettleTiles(fetch.LastWritten(), onLine);
  }
  onLine("Download End.");
  return result;
}

} // namespace kestrane
