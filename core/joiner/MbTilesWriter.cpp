#include "joiner/MbTilesWriter.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <sqlite3.h>

#include "joiner/TileBatch.h"
#include "joiner/TileCodec.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"

namespace kestrane::joiner_detail {

namespace {

constexpr int kTile = kTilePixels;
// SQLite's largest page: a tile of some kilobytes fits in one page with
// others (no overflow chain), the file is written in large pieces, and the
// database can be as large as SQLite allows.
constexpr uint64_t kPageBytes = 65536;

// The most pages this SQLite allows in one database.
uint64_t MaxPages() {
  static const uint64_t pages = [] {
    sqlite3 *db = nullptr;
    uint64_t n = 1073741823; // SQLite's default when it cannot be asked
    if (sqlite3_open(":memory:", &db) == SQLITE_OK) {
      sqlite3_stmt *st = nullptr;
      if (sqlite3_prepare_v2(db, "PRAGMA max_page_count = 4294967294", -1, &st,
                             nullptr) == SQLITE_OK &&
          sqlite3_step(st) == SQLITE_ROW)
        n = static_cast<uint64_t>(sqlite3_column_int64(st, 0));
      sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return n;
  }();
  return pages;
}

// A database connection that reports failures as the joiner's texts.
class Database {
public:
  Database(const std::string &path, const std::string &target)
      : target_(target) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
      Fail("open");
  }
  ~Database() { sqlite3_close_v2(db_); }
  Database(const Database &) = delete;
  Database &operator=(const Database &) = delete;

  void Exec(const std::string &sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      Fail(sql.substr(0, sql.find(' ')));
  }
  sqlite3_stmt *Prepare(const char *sql) {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK)
      Fail("prepare");
    return st;
  }
  // Ends the connection; what it wrote is then in the file.
  void Close() {
    if (sqlite3_close(db_) != SQLITE_OK)
      Fail("close");
    db_ = nullptr;
  }
  [[noreturn]] void Fail(const std::string &what) const {
    const char *why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    throw KError(ErrorCause::CannotWrite,
                 "Cannot write file " + target_ + ": " + what + ": " + why);
  }

private:
  sqlite3 *db_ = nullptr;
  std::string target_;
};

// One prepared statement, reset after each use.
class Statement {
public:
  Statement(Database &db, const char *sql) : db_(db), st_(db.Prepare(sql)) {}
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement &) = delete;
  Statement &operator=(const Statement &) = delete;

  Statement &Bind(int i, int64_t v) {
    sqlite3_bind_int64(st_, i, v);
    return *this;
  }
  Statement &Bind(int i, std::string_view v, bool blob) {
    if (blob)
      sqlite3_bind_blob64(st_, i, v.data(), v.size(), SQLITE_STATIC);
    else
      sqlite3_bind_text64(st_, i, v.data(), v.size(), SQLITE_STATIC,
                          SQLITE_UTF8);
    return *this;
  }
  // Runs an insert.
  void Run() {
    if (sqlite3_step(st_) != SQLITE_DONE)
      db_.Fail("insert");
    sqlite3_reset(st_);
  }
  // Runs a query of one blob; false when no row.
  bool Blob(std::string &out) {
    const int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) {
      const auto *p = static_cast<const char *>(sqlite3_column_blob(st_, 0));
      out.assign(p != nullptr ? p : "",
                 static_cast<size_t>(sqlite3_column_bytes(st_, 0)));
    } else if (rc != SQLITE_DONE) {
      db_.Fail("select");
    }
    sqlite3_reset(st_);
    return rc == SQLITE_ROW;
  }

private:
  Database &db_;
  sqlite3_stmt *st_;
};

class MbWriter {
public:
  MbWriter(const PictureInput &input, const JoinOptions &options,
           JoinResult &result, Database &db)
      : task_(input.Task), options_(options), result_(result),
        problems_(input.Problems), checked_(input.Checked), db_(db),
        insert_(db, "INSERT INTO tiles VALUES (?, ?, ?, ?)") {}

  bool WriteBase();
  bool WriteLevel(int32_t zoom, int32_t minX, int32_t maxX, int32_t minY,
                  int32_t maxY, int64_t &done, int64_t total);
  void WriteMetadata(const std::string &name);

private:
  bool Cancelled() const {
    return options_.Cancel != nullptr && options_.Cancel->Requested();
  }
  void Report(JoinPhase phase, int64_t done, int64_t total) const {
    if (options_.Progress)
      options_.Progress(phase, done, total);
  }
  void Insert(int32_t z, int64_t x, int64_t y, std::string_view bytes) {
    insert_.Bind(1, z).Bind(2, x).Bind(3, y).Bind(4, bytes, true).Run();
  }
  void BuildBatch(std::vector<std::array<std::string, 4>> &children,
                  std::vector<std::string> &out, size_t n);

  const DownloadTask &task_;
  const JoinOptions &options_;
  JoinResult &result_;
  const CellStates &problems_;
  const CheckedTiles &checked_;
  Database &db_;
  Statement insert_;
};

// The task's tiles at its zoom, column by column from the west, each from
// the south: the order of the table's key, so every insert appends.
bool MbWriter::WriteBase() {
  const int32_t z = task_.Params.Zoom;
  const int64_t total = result_.Total;
  const int64_t down = int64_t{task_.MaxY} - task_.MinY + 1;
  // The place in the table's order: columns from the west, each from the
  // south.
  const auto tileAt = [&](int64_t done, int32_t &x, int32_t &y) {
    x = static_cast<int32_t>(task_.MinX + done / down);
    y = static_cast<int32_t>(task_.MinY + done % down);
  };
  TileBatch batch(TileForm{CarryRule::MapTile, 2, 2, options_.Quality},
                  options_, checked_);
  int32_t x = 0, y = 0;
  for (int64_t done = 0; done < total;) {
    if (Cancelled())
      return false;
    Report(JoinPhase::Joining, done, total);
    batch.Clear();
    const int64_t first = done;
    for (; done < total && !batch.Full(); ++done) {
      tileAt(done, x, y);
      const ViewCell cell = ViewPlacement(task_, x, y);
      batch.Add(problems_.Get(cell.Row * result_.Columns + cell.Column),
                task_.TilePath(x, y));
    }
    batch.Prepare();
    for (size_t k = 0; k < batch.Size(); ++k) {
      if (batch.Use(k) == BatchTile::Cancelled)
        return false;
      tileAt(first + static_cast<int64_t>(k), x, y);
      if (batch.CountIn(k, result_))
        Insert(z, x, y, batch.Bytes(k));
    }
  }
  Report(JoinPhase::Joining, total, total);
  return true;
}

// Builds tiles from their four children (south west, south east, north
// west, north east) on several threads; a tile with no child stays empty.
void MbWriter::BuildBatch(std::vector<std::array<std::string, 4>> &children,
                          std::vector<std::string> &out, size_t n) {
  std::atomic<size_t> next{0};
  auto work = [&] {
    RgbTile tile, half;
    for (size_t i = next++; i < n; i = next++) {
      out[i].clear();
      tile.assign(size_t{kTile} * kTile * 3, 0);
      bool any = false;
      for (size_t q = 0; q < 4; ++q) {
        int w = 0, h = 0;
        if (children[i][q].empty() ||
            !DecodeJpegScaled(children[i][q], 2, half, w, h))
          continue;
        any = true;
        // The southern children fill the lower half of the picture.
        const size_t left = (q & 1) * kTile / 2, top = (q < 2) * kTile / 2;
        for (int yy = 0; yy < std::min(h, kTile / 2); ++yy)
          std::memcpy(
              &tile[((top + static_cast<size_t>(yy)) * kTile + left) * 3],
              &half[static_cast<size_t>(yy) * w * 3],
              static_cast<size_t>(std::min(w, kTile / 2)) * 3);
      }
      if (any)
        EncodeTileJpeg(tile, 2, 2, options_.Quality, out[i]);
    }
  };
  const int threads =
      std::clamp(options_.Threads > 0
                     ? options_.Threads
                     : static_cast<int>(std::thread::hardware_concurrency()),
                 1, 4);
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t)
    pool.emplace_back(work);
  work();
  for (auto &t : pool)
    t.join();
}

// One lower zoom over the tiles [minX, maxX] x [minY, maxY] of the zoom
// below it, in the key's order.
bool MbWriter::WriteLevel(int32_t zoom, int32_t minX, int32_t maxX,
                          int32_t minY, int32_t maxY, int64_t &done,
                          int64_t total) {
  Statement child(db_, "SELECT tile_data FROM tiles WHERE zoom_level = ? "
                       "AND tile_column = ? AND tile_row = ?");
  constexpr size_t kBatch = 64;
  std::vector<std::array<std::string, 4>> children(kBatch);
  std::vector<std::string> built(kBatch);
  std::vector<std::pair<int32_t, int32_t>> places;
  for (int64_t x = minX / 2; x <= maxX / 2; ++x)
    for (int64_t y = minY / 2; y <= maxY / 2; ++y) {
      const size_t k = places.size();
      places.emplace_back(static_cast<int32_t>(x), static_cast<int32_t>(y));
      for (size_t q = 0; q < 4; ++q)
        if (!child.Bind(1, zoom + 1)
                 .Bind(2, 2 * x + static_cast<int64_t>(q & 1))
                 .Bind(3, 2 * y + static_cast<int64_t>(q >> 1))
                 .Blob(children[k][q]))
          children[k][q].clear();
      const bool last = x == maxX / 2 && y == maxY / 2;
      if (places.size() < kBatch && !last)
        continue;
      if (Cancelled())
        return false;
      BuildBatch(children, built, places.size());
      for (size_t i = 0; i < places.size(); ++i)
        if (!built[i].empty())
          Insert(zoom, places[i].first, places[i].second, built[i]);
      done += static_cast<int64_t>(places.size());
      Report(JoinPhase::Overviews, done, total);
      places.clear();
    }
  return true;
}

void MbWriter::WriteMetadata(const std::string &name) {
  const int32_t maxZoom = task_.Params.Zoom;
  const int32_t minZoom = maxZoom - options_.Levels;
  const double left = task_.LeftLongitudeDownload;
  const double right = task_.RightLongitudeDownload;
  const double top =
      std::max(task_.TopLatitudeDownload, task_.BottomLatitudeDownload);
  const double bottom =
      std::min(task_.TopLatitudeDownload, task_.BottomLatitudeDownload);
  const std::string rows[][2] = {
      {"name", name},
      {"format", "jpg"},
      {"bounds", ShortestText(left) + "," + ShortestText(bottom) + "," +
                     ShortestText(right) + "," + ShortestText(top)},
      {"center", ShortestText((left + right) / 2) + "," +
                     ShortestText((top + bottom) / 2) + "," +
                     std::to_string(minZoom)},
      {"minzoom", std::to_string(minZoom)},
      {"maxzoom", std::to_string(maxZoom)},
      {"type", "overlay"},
      {"version", "1"},
      {"description", "Oblique aerial tiles of the task " + name + ", zoom " +
                          std::to_string(maxZoom) + ", looking North: " +
                          std::to_string(result_.Joined()) + " of " +
                          std::to_string(result_.Total) + " tiles"},
      {"attribution", "Imagery of the tile service the task was downloaded "
                      "from"},
  };
  Statement meta(db_, "INSERT INTO metadata VALUES (?, ?)");
  for (const auto &row : rows)
    meta.Bind(1, row[0], false).Bind(2, row[1], false).Run();
}

// The schema of MBTiles 1.3.
void CreateSchema(Database &db) {
  db.Exec("PRAGMA page_size = " + std::to_string(kPageBytes));
  // The database is written whole into a temporary file and renamed: no
  // journal, no side file, and nothing to recover after a crash.
  db.Exec("PRAGMA journal_mode = OFF");
  db.Exec("PRAGMA synchronous = OFF");
  db.Exec("PRAGMA locking_mode = EXCLUSIVE");
  db.Exec("PRAGMA max_page_count = 4294967294");
  db.Exec("CREATE TABLE metadata (name text, value text)");
  db.Exec("CREATE UNIQUE INDEX name ON metadata (name)");
  db.Exec("CREATE TABLE tiles (zoom_level integer, tile_column integer, "
          "tile_row integer, tile_data blob)");
  db.Exec("CREATE UNIQUE INDEX tile_index ON tiles "
          "(zoom_level, tile_column, tile_row)");
}

} // namespace

uint64_t MbTilesCapacity() {
  return kPageBytes * MaxPages();
}

bool WriteMbTiles(const PictureInput &input, const JoinOptions &options,
                  JoinResult &result, AtomicFile &out,
                  const std::string &target) {
  const DownloadTask &task = input.Task;
  Database db(out.TempPath(), target);
  CreateSchema(db);
  db.Exec("BEGIN");
  {
    MbWriter writer(input, options, result, db);
    if (!writer.WriteBase())
      return false;
    int64_t total = 0, done = 0;
    for (int k = 1; k <= options.Levels; ++k)
      total += int64_t{(task.MaxX >> k) - (task.MinX >> k) + 1} *
               ((task.MaxY >> k) - (task.MinY >> k) + 1);
    for (int k = 1; k <= options.Levels; ++k)
      if (!writer.WriteLevel(task.Params.Zoom - k, task.MinX >> (k - 1),
                             task.MaxX >> (k - 1), task.MinY >> (k - 1),
                             task.MaxY >> (k - 1), done, total))
        return false;
    if (options.Cancel != nullptr && options.Cancel->Requested())
      return false;
    result.OverviewLevels = options.Levels;
    const std::string file = ExtractFileName(result.ProjectFile);
    writer.WriteMetadata(
        file.substr(0, file.size() - ExtractFileExt(file).size()));
  }
  db.Exec("COMMIT");
  db.Close();
  result.Georeferenced = true;
  return true;
}

} // namespace kestrane::joiner_detail
