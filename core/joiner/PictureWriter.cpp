#include "joiner/PictureWriter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <tiffio.h>

#include "joiner/EmptyTiles.h"
#include "joiner/GeoKeys.h"
#include "joiner/OverviewTile.h"
#include "joiner/TileCodec.h"
#include "platform/Files.h"
#include "tile/TileRead.h"

namespace kestrane::joiner_detail {

namespace {

constexpr int kTile = kTilePixels;
constexpr double kEarthRadius = 6378137.0; // of EPSG:3857
constexpr double kPi = 3.14159265358979323846;

// No tile file is this large; a larger one is not read (memory stays
// bounded) and counts as damaged.
constexpr size_t kMaxTileBytes = size_t{16} * 1024 * 1024;

std::string ErrnoText(int e) {
  return std::strerror(e);
}

// libtiff's messages of one open file, kept for the failure text.
struct TiffMessages {
  std::string Last;
  bool SizeExceeded = false;
};

int OnTiffError(TIFF *, void *user, const char *module, const char *fmt,
                va_list ap) {
  auto *m = static_cast<TiffMessages *>(user);
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  m->Last = text;
  if (std::strstr(text, "Maximum TIFF file size exceeded") != nullptr)
    m->SizeExceeded = true;
  (void)module;
  return 1;
}
int OnTiffWarning(TIFF *, void *, const char *, const char *, va_list) {
  return 1;
}

double MercatorX(double lon) {
  return lon * kPi / 180.0 * kEarthRadius;
}
double MercatorY(double lat) {
  return std::log(std::tan(kPi / 4 + lat * kPi / 360.0)) * kEarthRadius;
}

class Writer {
public:
  Writer(const PictureInput &input, const JoinOptions &options,
         JoinResult &result)
      : task_(input.Task), options_(options), result_(result),
        problems_(input.Problems), h_(input.HSampling), v_(input.VSampling),
        empty_(result.Columns, result.Rows) {}

  // Writes the whole file into `out`; false when cancelled.
  bool Write(AtomicFile &out, const std::string &target);

private:
  bool Cancelled() const {
    return options_.Cancel != nullptr && options_.Cancel->Requested();
  }
  void Report(JoinPhase phase, int64_t done, int64_t total) const {
    if (options_.Progress)
      options_.Progress(phase, done, total);
  }
  [[noreturn]] void Fail(const std::string &what, int e = 0) const {
    if (messages_.SizeExceeded && !result_.BigTiff)
      throw ClassicTooSmall{};
    std::string why = e != 0 ? ErrnoText(e) : messages_.Last;
    if (why.empty())
      why = "write error";
    throw KError(ErrorCause::CannotWrite,
                 "Cannot write file " + target_ + ": " + what + ": " + why);
  }
  void GridFields(const Level &l, uint32_t subfile, uint16_t bits,
                  uint16_t samples, uint16_t compression, uint16_t photometric);
  void ImageFields(const Level &l, uint32_t subfile);
  void MaskFields(const Level &l, uint32_t subfile);
  void Georeference();
  void WriteTile(Level &l, int64_t index, const std::string &bytes);
  void Finish(Level &l);
  void Open(AtomicFile &out);
  bool WriteBase(Level &base);
  bool WriteOverviews(std::vector<Level> &levels);
  bool WriteOverview(const Level &from, Level &to, int64_t &done,
                     int64_t total);
  bool WriteMasks(const std::vector<Level> &levels);
  void WriteMask(const Level &l, int reduction);

  const DownloadTask &task_;
  const JoinOptions &options_;
  JoinResult &result_;
  const CellStates &problems_;
  int h_, v_;
  EmptyTiles empty_;
  TIFF *tif_ = nullptr;
  int fd_ = -1;
  std::string target_;
  TiffMessages messages_;
};

// The fields every directory of the file has: its kind, size and tiles,
// and how its pixels are stored.
void Writer::GridFields(const Level &l, uint32_t subfile, uint16_t bits,
                        uint16_t samples, uint16_t compression,
                        uint16_t photometric) {
  TIFFSetField(tif_, TIFFTAG_SUBFILETYPE, subfile);
  TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(l.Width));
  TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(l.Height));
  TIFFSetField(tif_, TIFFTAG_TILEWIDTH, uint32_t{kTile});
  TIFFSetField(tif_, TIFFTAG_TILELENGTH, uint32_t{kTile});
  TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif_, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC, photometric);
}

void Writer::ImageFields(const Level &l, uint32_t subfile) {
  GridFields(l, subfile, 8, 3, COMPRESSION_JPEG, PHOTOMETRIC_YCBCR);
  TIFFSetField(tif_, TIFFTAG_YCBCRSUBSAMPLING, static_cast<uint16_t>(h_),
               static_cast<uint16_t>(v_));
  // Every tile is a whole JPEG stream with its own tables.
  TIFFSetField(tif_, TIFFTAG_JPEGTABLESMODE, 0);
}

void Writer::MaskFields(const Level &l, uint32_t subfile) {
  GridFields(l, subfile, 1, 1, COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_MASK);
}

// Web Mercator keys: the picture's corners are the block's edges.
void Writer::Georeference() {
  const double left = MercatorX(task_.LeftLongitudeDownload);
  const double right = MercatorX(task_.RightLongitudeDownload);
  const double top = MercatorY(
      std::max(task_.TopLatitudeDownload, task_.BottomLatitudeDownload));
  const double bottom = MercatorY(
      std::min(task_.TopLatitudeDownload, task_.BottomLatitudeDownload));
  const double width = static_cast<double>(result_.Columns * kTile);
  const double height = static_cast<double>(result_.Rows * kTile);
  double scale[3] = {(right - left) / width, (top - bottom) / height, 0};
  double tie[6] = {0, 0, 0, left, top, 0};
  if (!SetWebMercatorTags(tif_, scale, tie))
    Fail("GeoTIFF keys");
  result_.Georeferenced = true;
}

void Writer::WriteTile(Level &l, int64_t index, const std::string &bytes) {
  errno = 0;
  if (TIFFWriteRawTile(tif_, static_cast<uint32_t>(index),
                       const_cast<char *>(bytes.data()),
                       static_cast<tmsize_t>(bytes.size())) < 0)
    Fail("tile " + std::to_string(index), errno);
  (void)l;
}

// Keeps where the level's tiles went (the next level reads them back) and
// closes its directory.
void Writer::Finish(Level &l) {
  const size_t n = static_cast<size_t>(l.Across * l.Down);
  uint64_t *offsets = nullptr, *sizes = nullptr;
  if (TIFFGetField(tif_, TIFFTAG_TILEOFFSETS, &offsets) && offsets != nullptr)
    l.Offsets.assign(offsets, offsets + n);
  if (TIFFGetField(tif_, TIFFTAG_TILEBYTECOUNTS, &sizes) && sizes != nullptr)
    l.Sizes.assign(sizes, sizes + n);
  errno = 0;
  if (!TIFFWriteDirectory(tif_))
    Fail("directory", errno);
}

bool Writer::WriteBase(Level &base) {
  std::string bytes, encoded;
  RgbTile rgb;
  const int64_t total = result_.Total;
  for (int64_t row = 0; row < result_.Rows; ++row) {
    for (int64_t col = 0; col < result_.Columns; ++col) {
      const int64_t index = row * result_.Columns + col;
      if (Cancelled())
        return false;
      if ((index & 63) == 0)
        Report(JoinPhase::Joining, index, total);
      const TileState state = problems_.Get(index);
      if (state != TileState::Stored) {
        switch (state) {
        case TileState::Placeholder:
          ++result_.Placeholder;
          break;
        case TileState::Damaged:
          ++result_.Damaged;
          break;
        default:
          ++result_.Missing;
          break;
        }
        empty_.Set(col, row);
        continue;
      }
      int32_t x = 0, y = 0;
      ViewCellTile(task_, col, row, x, y);
      if (!ReadTile(task_.TilePath(x, y), bytes)) {
        ++result_.Missing; // gone since the inventory was taken
        empty_.Set(col, row);
        continue;
      }
      switch (PrepareTile(bytes, h_, v_, options_.Quality, options_.Cancel, rgb,
                          encoded)) {
      case TileUse::Carried:
        WriteTile(base, index, bytes);
        ++result_.Carried;
        break;
      case TileUse::Reencoded:
        WriteTile(base, index, encoded);
        ++result_.Reencoded;
        break;
      case TileUse::Damaged:
        ++result_.Damaged;
        empty_.Set(col, row);
        break;
      case TileUse::Cancelled:
        return false;
      }
    }
  }
  Report(JoinPhase::Joining, total, total);
  return true;
}

// One reduced level from the one above it. Tiles are built by several
// threads in batches and written in order.
bool Writer::WriteOverview(const Level &from, Level &to, int64_t &done,
                           int64_t total) {
  const int64_t count = to.Across * to.Down;
  const int threads =
      std::clamp(options_.Threads > 0
                     ? options_.Threads
                     : static_cast<int>(std::thread::hardware_concurrency()),
                 1, 4);
  const int64_t batch = int64_t{16} * threads;
  std::vector<std::string> encoded(static_cast<size_t>(batch));
  std::vector<char> failed(static_cast<size_t>(batch));
  for (int64_t first = 0; first < count; first += batch) {
    if (Cancelled())
      return false;
    const int64_t last = std::min(count, first + batch);
    std::atomic<int64_t> next{first};
    // Each thread only reads the file and the level above.
    auto work = [&] {
      OverviewScratch scratch;
      for (int64_t i = next++; i < last; i = next++) {
        const size_t k = static_cast<size_t>(i - first);
        failed[k] =
            EncodeOverviewTile(fd_, from, to, i, {h_, v_, options_.Quality},
                               scratch, encoded[k])
                ? 0
                : 1;
      }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t)
      pool.emplace_back(work);
    work();
    for (auto &t : pool)
      t.join();
    for (int64_t i = first; i < last; ++i) {
      const size_t k = static_cast<size_t>(i - first);
      if (failed[k])
        Fail("overview tile", 0);
      if (!encoded[k].empty())
        WriteTile(to, i, encoded[k]);
    }
    done += last - first;
    Report(JoinPhase::Overviews, done, total);
  }
  return true;
}

// Every reduced level down to one tile, each written after the one above.
bool Writer::WriteOverviews(std::vector<Level> &levels) {
  int64_t total = 0;
  for (int64_t w = levels[0].Width, h = levels[0].Height;
       w > kTile || h > kTile;) {
    w = (w + 1) / 2;
    h = (h + 1) / 2;
    total += ((w + kTile - 1) / kTile) * ((h + kTile - 1) / kTile);
  }
  int64_t done = 0;
  while (levels.back().Width > kTile || levels.back().Height > kTile) {
    const Level &from = levels.back();
    Level to = MakeLevel((from.Width + 1) / 2, (from.Height + 1) / 2);
    ImageFields(to, FILETYPE_REDUCEDIMAGE);
    if (!WriteOverview(from, to, done, total))
      return false;
    Finish(to);
    // Only the level above is read back.
    levels.back().Offsets.clear();
    levels.back().Sizes.clear();
    levels.push_back(std::move(to));
  }
  result_.OverviewLevels = static_cast<int>(levels.size()) - 1;
  return true;
}

// The level's mask: a set bit for every pixel that holds picture. Tiles
// with no picture at all are left out, and read as no data.
void Writer::WriteMask(const Level &l, int reduction) {
  constexpr size_t kBytes = size_t{kTile} * kTile / 8;
  std::vector<uint8_t> full(kBytes, 0xFF), bits(kBytes);
  const int64_t factor = int64_t{1} << reduction; // picture pixels a pixel
  // Copy k of the empty-tile grid has one cell per picture pixel of this
  // level beyond a reduction of 256; up to it a pixel lies in one tile.
  const int k = reduction > 8 ? reduction - 8 : 0;
  const int64_t pixelsPerCell = reduction > 8 ? 1 : kTile / factor;
  const int64_t cellsPerTile = kTile / pixelsPerCell;
  for (int64_t ty = 0; ty < l.Down; ++ty) {
    for (int64_t tx = 0; tx < l.Across; ++tx) {
      int64_t empty = 0, cells = 0;
      for (int64_t cy = 0; cy < cellsPerTile; ++cy)
        for (int64_t cx = 0; cx < cellsPerTile; ++cx) {
          const int64_t gx = tx * cellsPerTile + cx,
                        gy = ty * cellsPerTile + cy;
          if (gx * pixelsPerCell >= l.Width || gy * pixelsPerCell >= l.Height)
            continue;
          ++cells;
          empty += empty_.Empty(k, gx, gy) ? 1 : 0;
        }
      const uint32_t index = static_cast<uint32_t>(ty * l.Across + tx);
      const uint8_t *data = full.data();
      if (empty == cells)
        continue;
      if (empty > 0) {
        std::fill(bits.begin(), bits.end(), 0);
        for (int64_t py = 0; py < kTile; ++py)
          for (int64_t px = 0; px < kTile; ++px) {
            const int64_t gx = (tx * kTile + px) / pixelsPerCell;
            const int64_t gy = (ty * kTile + py) / pixelsPerCell;
            if (!empty_.Empty(k, gx, gy))
              bits[static_cast<size_t>(py * kTile + px) / 8] |=
                  static_cast<uint8_t>(0x80 >> (px & 7));
          }
        data = bits.data();
      }
      errno = 0;
      if (TIFFWriteEncodedTile(tif_, index, const_cast<uint8_t *>(data),
                               static_cast<tmsize_t>(kBytes)) < 0)
        Fail("mask", errno);
    }
  }
  errno = 0;
  if (!TIFFWriteDirectory(tif_))
    Fail("directory", errno);
}

// Every level's mask, in the order of the levels, when any tile is empty.
bool Writer::WriteMasks(const std::vector<Level> &levels) {
  if (!empty_.Any())
    return true;
  for (size_t i = 0; i < levels.size(); ++i) {
    if (Cancelled())
      return false;
    MaskFields(levels[i],
               i == 0 ? FILETYPE_MASK : FILETYPE_MASK | FILETYPE_REDUCEDIMAGE);
    WriteMask(levels[i], static_cast<int>(i));
  }
  return true;
}

// Opens the TIFF on the temporary file, which libtiff then owns and closes.
void Writer::Open(AtomicFile &out) {
  TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(opts, OnTiffError, &messages_);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, OnTiffWarning, nullptr);
  RegisterGeoTiffTags();
  fd_ = out.Fd();
  tif_ = TIFFFdOpenExt(fd_, out.TempPath().c_str(),
                       result_.BigTiff ? "w8" : "w", opts);
  TIFFOpenOptionsFree(opts);
  if (tif_ == nullptr)
    Fail("open", errno);
  out.HandOver();
}

bool Writer::Write(AtomicFile &out, const std::string &target) {
  target_ = target;
  Open(out);
  struct Closer {
    TIFF *&t;
    ~Closer() {
      if (t != nullptr)
        TIFFClose(t);
    }
  } closer{tif_};

  std::vector<Level> levels;
  levels.push_back(MakeLevel(result_.Columns * kTile, result_.Rows * kTile));
  ImageFields(levels[0], 0);
  if (task_.Params.Dir == 0)
    Georeference();
  if (!WriteBase(levels[0]))
    return false;
  Finish(levels[0]);
  if (options_.Overviews && !WriteOverviews(levels))
    return false;
  if (!WriteMasks(levels))
    return false;
  if (::fsync(fd_) != 0)
    Fail("sync", errno);
  TIFFClose(tif_);
  tif_ = nullptr;
  return true;
}

} // namespace

bool ReadTile(const std::string &path, std::string &out) {
  switch (ReadStoredTile(AT_FDCWD, path.c_str(), kMaxTileBytes, out)) {
  case StoredTileRead::Missing:
    return false;
  case StoredTileRead::NotATile:
    out.clear();
    break;
  case StoredTileRead::Whole:
    break;
  }
  return true;
}

bool WritePicture(const PictureInput &input, const JoinOptions &options,
                  JoinResult &result, AtomicFile &out,
                  const std::string &target) {
  Writer writer(input, options, result);
  return writer.Write(out, target);
}

} // namespace kestrane::joiner_detail
