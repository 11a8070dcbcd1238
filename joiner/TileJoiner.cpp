#include "joiner/TileJoiner.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <geotiff.h>
#include <geovalues.h>
#include <tiffio.h>
#include <xtiffio.h>

#include "inventory/TaskInventory.h"
#include "joiner/EmptyTiles.h"
#include "joiner/TempOutput.h"
#include "joiner/TileCodec.h"
#include "platform/Files.h"

namespace kestrane {

namespace {

constexpr int kTile = kTilePixels;
constexpr double kEarthRadius = 6378137.0; // of EPSG:3857
constexpr double kPi = 3.14159265358979323846;
// Classic TIFF offsets end at 4 GiB; the picture switches to BigTIFF well
// before its estimated size gets there.
constexpr double kClassicLimit = 3.5 * 1024 * 1024 * 1024;

const char *const kDirectionNames[] = {"North", "East", "South", "West"};

// Thrown when a classic TIFF outgrows its 32-bit offsets: the join starts
// again as BigTIFF.
struct ClassicTooSmall {};

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

// No tile file is this large; a larger one is not read (memory stays
// bounded) and counts as damaged.
constexpr off_t kMaxTileBytes = 16 * 1024 * 1024;

// Reads a whole file into `out`; false (errno set) when it cannot. A file
// over kMaxTileBytes, or no regular file, reads as empty.
bool ReadWhole(const std::string &path, std::string &out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return false;
  }
  if (st.st_size > kMaxTileBytes || !S_ISREG(st.st_mode)) {
    out.clear();
    ::close(fd);
    return true;
  }
  out.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  ::close(fd);
  return true;
}

bool PreadWhole(int fd, uint64_t offset, uint64_t size, std::string &out) {
  out.resize(size);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, out.data() + got, size - got,
                              static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

double MercatorX(double lon) {
  return lon * kPi / 180.0 * kEarthRadius;
}
double MercatorY(double lat) {
  return std::log(std::tan(kPi / 4 + lat * kPi / 360.0)) * kEarthRadius;
}

// One tile grid of the file: the base picture or a reduced level.
struct Level {
  int64_t Width = 0, Height = 0;        // pixels
  int64_t Across = 0, Down = 0;         // tiles
  std::vector<uint64_t> Offsets, Sizes; // of the written tiles, 0: none
};

Level MakeLevel(int64_t width, int64_t height) {
  Level l;
  l.Width = width;
  l.Height = height;
  l.Across = (width + kTile - 1) / kTile;
  l.Down = (height + kTile - 1) / kTile;
  return l;
}

// The JPEG sampling most of the first stored tiles have; 2 x 2 (4:2:0) when
// none tells.
void ChooseSampling(const MDTask &task, int64_t columns, int64_t rows,
                    const std::unordered_map<int64_t, TileState> &problems,
                    int &h, int &v, double &averageSize) {
  std::map<std::pair<int, int>, int> votes;
  std::string bytes;
  int looked = 0;
  uint64_t sizes = 0;
  for (int64_t i = 0; i < columns * rows && looked < 32; ++i) {
    if (problems.count(i) != 0)
      continue;
    int32_t x = 0, y = 0;
    ViewCellTile(task, i % columns, i / columns, x, y);
    if (!ReadWhole(task.TilePath(x, y), bytes))
      continue;
    ++looked;
    sizes += bytes.size();
    const JpegFrame f = ReadJpegFrame(bytes);
    if (f.Parsed && f.Components == 3 && !f.Rgb && f.ChromaOneByOne &&
        (f.HSampling == 1 || f.HSampling == 2) &&
        (f.VSampling == 1 || f.VSampling == 2))
      ++votes[{f.HSampling, f.VSampling}];
  }
  h = 2;
  v = 2;
  int best = 0;
  for (const auto &[hv, n] : votes)
    if (n > best) {
      best = n;
      h = hv.first;
      v = hv.second;
    }
  averageSize = looked > 0 ? static_cast<double>(sizes) / looked : 20000.0;
}

class Writer {
public:
  Writer(const MDTask &task, const JoinOptions &options, JoinResult &result,
         const std::unordered_map<int64_t, TileState> &problems, int h, int v)
      : task_(task), options_(options), result_(result), problems_(problems),
        h_(h), v_(v), empty_(result.Columns, result.Rows) {}

  // Writes the whole file into `out`; false when cancelled.
  bool Write(TempOutput &out, const std::string &target);

private:
  bool Cancelled() const {
    return options_.Cancel != nullptr && options_.Cancel->load();
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
    throw KError("Cannot write file " + target_ + ": " + what + ": " + why);
  }
  void ImageFields(const Level &l, uint32_t subfile);
  void MaskFields(const Level &l, uint32_t subfile);
  void Georeference();
  void WriteTile(Level &l, int64_t index, const std::string &bytes);
  void Finish(Level &l);
  bool WriteBase(Level &base);
  bool WriteOverview(const Level &from, Level &to, int64_t &done,
                     int64_t total);
  void WriteMask(const Level &l, int reduction);

  const MDTask &task_;
  const JoinOptions &options_;
  JoinResult &result_;
  const std::unordered_map<int64_t, TileState> &problems_;
  int h_, v_;
  EmptyTiles empty_;
  TIFF *tif_ = nullptr;
  int fd_ = -1;
  std::string target_;
  TiffMessages messages_;
};

void Writer::ImageFields(const Level &l, uint32_t subfile) {
  TIFFSetField(tif_, TIFFTAG_SUBFILETYPE, subfile);
  TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(l.Width));
  TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(l.Height));
  TIFFSetField(tif_, TIFFTAG_TILEWIDTH, uint32_t{kTile});
  TIFFSetField(tif_, TIFFTAG_TILELENGTH, uint32_t{kTile});
  TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, uint16_t{8});
  TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, uint16_t{3});
  TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif_, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
  TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
  TIFFSetField(tif_, TIFFTAG_YCBCRSUBSAMPLING, static_cast<uint16_t>(h_),
               static_cast<uint16_t>(v_));
  // Every tile is a whole JPEG stream with its own tables.
  TIFFSetField(tif_, TIFFTAG_JPEGTABLESMODE, 0);
}

void Writer::MaskFields(const Level &l, uint32_t subfile) {
  TIFFSetField(tif_, TIFFTAG_SUBFILETYPE, subfile);
  TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(l.Width));
  TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(l.Height));
  TIFFSetField(tif_, TIFFTAG_TILEWIDTH, uint32_t{kTile});
  TIFFSetField(tif_, TIFFTAG_TILELENGTH, uint32_t{kTile});
  TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, uint16_t{1});
  TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, uint16_t{1});
  TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif_, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MASK);
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
  TIFFSetField(tif_, TIFFTAG_GEOPIXELSCALE, 3, scale);
  TIFFSetField(tif_, TIFFTAG_GEOTIEPOINTS, 6, tie);
  GTIF *gtif = GTIFNew(tif_);
  if (gtif == nullptr)
    Fail("GeoTIFF keys");
  GTIFKeySet(gtif, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeProjected);
  GTIFKeySet(gtif, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
  GTIFKeySet(gtif, ProjectedCSTypeGeoKey, TYPE_SHORT, 1, 3857);
  GTIFKeySet(gtif, ProjLinearUnitsGeoKey, TYPE_SHORT, 1, Linear_Meter);
  GTIFKeySet(gtif, GTCitationGeoKey, TYPE_ASCII, 0, "WGS 84 / Pseudo-Mercator");
  const int ok = GTIFWriteKeys(gtif);
  GTIFFree(gtif);
  if (!ok)
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
      if ((index & 63) == 0) {
        if (Cancelled())
          return false;
        Report(JoinPhase::Joining, index, total);
      }
      const auto problem = problems_.find(index);
      if (problem != problems_.end()) {
        switch (problem->second) {
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
      if (!ReadWhole(task_.TilePath(x, y), bytes)) {
        ++result_.Missing; // gone since the inventory was taken
        empty_.Set(col, row);
        continue;
      }
      if (CarriesAsTile(ReadJpegFrame(bytes), h_, v_)) {
        WriteTile(base, index, bytes);
        ++result_.Carried;
      } else if (DecodeTileBody(bytes, rgb)) {
        EncodeTileJpeg(rgb, h_, v_, options_.Quality, encoded);
        WriteTile(base, index, encoded);
        ++result_.Reencoded;
      } else {
        ++result_.Damaged;
        empty_.Set(col, row);
      }
    }
  }
  Report(JoinPhase::Joining, total, total);
  return true;
}

// One reduced level from the one above it: each tile from its four
// children decoded at half size. Tiles are built by several threads in
// batches and written in order.
bool Writer::WriteOverview(const Level &from, Level &to, int64_t &done,
                           int64_t total) {
  const int64_t count = to.Across * to.Down;
  const int threads =
      std::clamp(options_.Threads > 0
                     ? options_.Threads
                     : static_cast<int>(std::thread::hardware_concurrency()),
                 1, 4);
  const int64_t batch = 16 * threads;
  std::vector<std::string> encoded(static_cast<size_t>(batch));
  std::vector<char> failed(static_cast<size_t>(batch));
  for (int64_t first = 0; first < count; first += batch) {
    if (Cancelled())
      return false;
    const int64_t last = std::min(count, first + batch);
    std::atomic<int64_t> next{first};
    auto work = [&] {
      RgbTile tile, half;
      std::string bytes;
      for (int64_t i = next++; i < last; i = next++) {
        std::string &out = encoded[static_cast<size_t>(i - first)];
        out.clear();
        const int64_t ox = i % to.Across, oy = i / to.Across;
        bool any = false;
        tile.assign(size_t{kTile} * kTile * 3, 0);
        for (int q = 0; q < 4; ++q) {
          const int64_t cx = 2 * ox + (q & 1), cy = 2 * oy + (q >> 1);
          if (cx >= from.Across || cy >= from.Down)
            continue;
          const size_t c = static_cast<size_t>(cy * from.Across + cx);
          if (c >= from.Sizes.size() || from.Sizes[c] == 0)
            continue;
          int w = 0, h = 0;
          if (!PreadWhole(fd_, from.Offsets[c], from.Sizes[c], bytes) ||
              !DecodeJpegScaled(bytes, 2, half, w, h))
            continue;
          any = true;
          const int half_ = kTile / 2;
          for (int yy = 0; yy < std::min(h, half_); ++yy)
            std::memcpy(&tile[((size_t{static_cast<size_t>(q >> 1)} * half_ +
                                static_cast<size_t>(yy)) *
                                   kTile +
                               static_cast<size_t>(q & 1) * half_) *
                              3],
                        &half[static_cast<size_t>(yy) * w * 3],
                        static_cast<size_t>(std::min(w, half_)) * 3);
        }
        if (!any)
          continue;
        try {
          EncodeTileJpeg(tile, h_, v_, options_.Quality, out);
        } catch (const KError &) {
          failed[static_cast<size_t>(i - first)] = 1;
        }
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

bool Writer::Write(TempOutput &out, const std::string &target) {
  target_ = target;
  TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(opts, OnTiffError, &messages_);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, OnTiffWarning, nullptr);
  XTIFFInitialize(); // the GeoTIFF tags
  fd_ = out.Fd();
  tif_ = TIFFFdOpenExt(fd_, out.Path().c_str(), result_.BigTiff ? "w8" : "w",
                       opts);
  TIFFOpenOptionsFree(opts);
  if (tif_ == nullptr)
    Fail("open", errno);
  out.HandOver();
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

  if (options_.Overviews) {
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
  }

  if (empty_.Any()) {
    for (size_t i = 0; i < levels.size(); ++i) {
      if (Cancelled())
        return false;
      MaskFields(levels[i], i == 0 ? FILETYPE_MASK
                                   : FILETYPE_MASK | FILETYPE_REDUCEDIMAGE);
      WriteMask(levels[i], static_cast<int>(i));
    }
  }

  if (::fsync(fd_) != 0)
    Fail("sync", errno);
  TIFFClose(tif_);
  tif_ = nullptr;
  return true;
}

} // namespace

std::vector<std::string> JoinResult::Lines() const {
  std::vector<std::string> lines;
  lines.push_back("Project file: " + ProjectFile);
  if (Cancelled) {
    lines.push_back("Cancelled: no picture was written.");
    return lines;
  }
  lines.push_back("Output file: " + OutputFile);
  lines.push_back("Picture: " + std::to_string(Columns * kTile) + " x " +
                  std::to_string(Rows * kTile) + " pixels, " +
                  std::to_string(Columns) + " x " + std::to_string(Rows) +
                  " tiles, looking " + Direction +
                  (Georeferenced ? ", EPSG:3857" : ", not georeferenced") +
                  (BigTiff ? ", BigTIFF" : ""));
  lines.push_back("Tiles joined: " + std::to_string(Joined()) + " of " +
                  std::to_string(Total) + " (carried " +
                  std::to_string(Carried) + ", re-encoded " +
                  std::to_string(Reencoded) + ")");
  lines.push_back("Missing: " + std::to_string(Missing));
  lines.push_back("Placeholder: " + std::to_string(Placeholder));
  lines.push_back("Damaged: " + std::to_string(Damaged));
  lines.push_back("Overview levels: " + std::to_string(OverviewLevels));
  return lines;
}

std::string DefaultJoinOutput(const std::string &projectFile) {
  const std::string name = ExtractFileName(projectFile);
  const std::string base =
      name.substr(0, name.size() - ExtractFileExt(name).size());
  return ExtractFilePath(projectFile) + base + ".tif";
}

void ViewCellTile(const MDTask &t, int64_t column, int64_t row, int32_t &x,
                  int32_t &y) {
  const int64_t a = t.ViewMinX + column; // the name's column
  const int64_t b = t.ViewMaxY - row;    // the name's row, counted upward
  int64_t tx = a, ty = b;
  switch (t.Params.Dir) {
  case 1: // East: a mirrors y, b is x
    tx = b;
    ty = int64_t{t.MaxY} + t.MinY - a;
    break;
  case 2: // South: both mirrored
    tx = int64_t{t.MaxX} + t.MinX - a;
    ty = int64_t{t.MaxY} + t.MinY - b;
    break;
  case 3: // West: a is y, b mirrors x
    tx = int64_t{t.MaxX} + t.MinX - b;
    ty = a;
    break;
  default:
    break;
  }
  x = static_cast<int32_t>(tx);
  y = static_cast<int32_t>(ty);
}

JoinResult JoinTiles(const std::string &projectFile, std::string outputFile,
                     const JoinOptions &options) {
  TaskEnvironment env;
  env.ProgramFolder = options.ProgramFolder;
  LoadedTask loaded;
  try {
    loaded = LoadTask(projectFile, env);
  } catch (const KError &e) {
    throw JoinRefused(e.what());
  } catch (const std::exception &) {
    throw JoinRefused("Cannot open file " + projectFile);
  }
  const MDTask &task = *loaded.Task;
  if (outputFile.empty())
    outputFile = DefaultJoinOutput(projectFile);
  std::error_code ec;
  if (std::filesystem::equivalent(projectFile, outputFile, ec))
    throw JoinRefused("Cannot create file " + outputFile +
                      ": it is the project file");
  if (!DirectoryExists(ExtractFilePath(outputFile).empty()
                           ? std::string(".")
                           : ExtractFilePath(outputFile)))
    throw JoinRefused("Cannot create file " + outputFile + ": no such folder");

  JoinResult result;
  result.ProjectFile = projectFile;
  result.OutputFile = outputFile;
  result.Direction = kDirectionNames[std::clamp(task.Params.Dir, 0, 3)];
  result.Columns = ViewColumns(task);
  result.Rows = ViewRows(task);
  result.Total = result.Columns * result.Rows;

  InventoryOptions inv;
  inv.Cancel = options.Cancel;
  if (options.Progress)
    inv.Progress = [&options](int64_t done, int64_t total) {
      options.Progress(JoinPhase::Checking, done, total);
    };
  const TaskInventory inventory = TakeInventory(task, inv);
  if (inventory.Cancelled) {
    result.Cancelled = true;
    return result;
  }
  std::unordered_map<int64_t, TileState> problems;
  for (const InventoryTile &t : inventory.Problems) {
    if (t.State == TileState::Stored)
      continue;
    const ViewCell cell = ViewPlacement(task, t.X, t.Y);
    problems[cell.Row * result.Columns + cell.Column] = t.State;
  }

  int h = 2, v = 2;
  double average = 0;
  ChooseSampling(task, result.Columns, result.Rows, problems, h, v, average);
  const double estimate = average * static_cast<double>(result.Total) *
                              (options.Overviews ? 1.5 : 1.1) +
                          static_cast<double>(result.Total) * 32.0;
  result.BigTiff = options.ForceBigTiff || estimate > kClassicLimit;

  for (;;) {
    JoinResult attempt = result;
    try {
      TempOutput out(outputFile);
      Writer writer(task, options, attempt, problems, h, v);
      if (!writer.Write(out, outputFile)) {
        result.Cancelled = true;
        return result;
      }
      out.Commit();
      return attempt;
    } catch (const ClassicTooSmall &) {
      result.BigTiff = true; // once more, with 64-bit offsets
    }
  }
}

} // namespace kestrane
