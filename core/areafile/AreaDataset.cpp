#include "areafile/AreaDataset.h"

#include <cpl_conv.h>
#include <cpl_http.h>
#include <cpl_vsi.h>
#include <ogr_spatialref.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <optional>

#include "areafile/AreaFromFile.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"

namespace kestrane {

namespace {

// The only readers an area file is given to: none of them reads another
// file or an address named inside the data.
const char *const kAllowedDrivers[] = {"GeoJSON", "KML", "LIBKML", "GPX",
                                       nullptr};

// Sets a GDAL option for this thread while it lives, then puts the old
// value back.
class ThreadOption {
public:
  ThreadOption(const char *key, const char *value) : key_(key) {
    if (const char *old = CPLGetThreadLocalConfigOption(key, nullptr))
      old_ = old;
    CPLSetThreadLocalConfigOption(key, value);
  }
  ~ThreadOption() {
    CPLSetThreadLocalConfigOption(key_, old_ ? old_->c_str() : nullptr);
  }
  ThreadOption(const ThreadOption &) = delete;
  ThreadOption &operator=(const ThreadOption &) = delete;

private:
  const char *key_;
  std::optional<std::string> old_;
};

// GDAL's own messages stay quiet on this thread while it lives: a failure
// is reported as ours, and the flaws of a file that GDAL steps over are no
// concern of the user.
class QuietGdal {
public:
  QuietGdal() { CPLPushErrorHandler(CPLQuietErrorHandler); }
  ~QuietGdal() { CPLPopErrorHandler(); }
  QuietGdal(const QuietGdal &) = delete;
  QuietGdal &operator=(const QuietGdal &) = delete;
};

// Every HTTP request GDAL would make on this thread fails at once.
CPLHTTPResult *RefuseRequest(const char *, CSLConstList, GDALProgressFunc,
                             void *, CPLHTTPFetchWriteFunc, void *, void *) {
  auto *result =
      static_cast<CPLHTTPResult *>(CPLCalloc(1, sizeof(CPLHTTPResult)));
  result->nStatus = 1;
  result->pszErrBuf = CPLStrdup("no network access while reading an area");
  return result;
}

// No network for GDAL on this thread while it lives: the HTTP requests of
// the readers are refused, the curl file systems open nothing, and the KML
// reader fetches no style named by its address.
class NoNetwork {
public:
  NoNetwork() { CPLHTTPPushFetchCallback(RefuseRequest, nullptr); }
  ~NoNetwork() { CPLHTTPPopFetchCallback(); }
  NoNetwork(const NoNetwork &) = delete;
  NoNetwork &operator=(const NoNetwork &) = delete;

private:
  ThreadOption curl_{"CPL_VSIL_CURL_ALLOWED_FILENAME", "/vsicurl/none"};
  ThreadOption style_{"LIBKML_EXTERNAL_STYLE", "NO"};
  ThreadOption resolve_{"LIBKML_RESOLVE_STYLE", "NO"};
};

// The file's bytes as an in-memory file of GDAL's, removed again with this
// object: GDAL never opens the user's path, so a path GDAL would read as an
// address or a virtual file system ("/vsicurl/...") is only a file name.
class MemoryCopy {
public:
  MemoryCopy(std::string &bytes, const std::string &extension) {
    static std::atomic<unsigned> counter{0};
    name_ = "/vsimem/kestrane-area-" + std::to_string(::getpid()) + "-" +
            std::to_string(counter.fetch_add(1)) + extension;
    VSIFCloseL(VSIFileFromMemBuffer(
        name_.c_str(), reinterpret_cast<GByte *>(bytes.data()),
        static_cast<vsi_l_offset>(bytes.size()), FALSE));
  }
  ~MemoryCopy() { VSIUnlink(name_.c_str()); }
  MemoryCopy(const MemoryCopy &) = delete;
  MemoryCopy &operator=(const MemoryCopy &) = delete;
  const std::string &Name() const { return name_; }

private:
  std::string name_;
};

// The file's bytes: a regular file (a link to one is followed) of at most
// kMaxAreaFileBytes. A FIFO, device or folder is refused without waiting.
std::string ReadAreaFile(const std::string &path) {
  std::optional<std::string> bytes =
      TryReadFileBytes(path, nullptr, kMaxAreaFileBytes);
  if (bytes)
    return std::move(*bytes);
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<unsigned long long>(st.st_size) > kMaxAreaFileBytes)
    throw KError(ErrorCause::InputRefused,
                 "The area file is larger than 64 MiB: " + path);
  throw KError(ErrorCause::CannotOpen, "Cannot open file " + path);
}

} // namespace

// What an open area file keeps alive: the guards, the copy in memory and
// GDAL's dataset, in the order they are undone.
struct AreaDataset::Open {
  explicit Open(const std::string &path)
      : bytes(ReadAreaFile(path)), copy(bytes, ExtractFileExt(path)) {}
  std::string bytes;
  const MemoryCopy copy;
  const NoNetwork offline;
  const QuietGdal quiet;
  std::unique_ptr<GDALDataset, void (*)(GDALDataset *)> dataset{
      nullptr, [](GDALDataset *d) { GDALClose(d); }};
};

// Refuses a box that leaves the globe, naming the file and the value.
void CheckOnTheGlobe(const OGREnvelope &e, const std::string &path) {
  const auto refuse = [&path](const char *what, double v) {
    throw KError(ErrorCause::InputRefused,
                 std::string(what) + " in " + path + ": " + ShortestText(v));
  };
  for (const double v : {e.MinX, e.MaxX})
    if (!std::isfinite(v))
      refuse("Not a finite coordinate", v);
    else if (v < -180 || v > 180)
      refuse("Longitude outside -180..180", v);
  for (const double v : {e.MinY, e.MaxY})
    if (!std::isfinite(v))
      refuse("Not a finite coordinate", v);
    else if (v < -90 || v > 90)
      refuse("Latitude outside -90..90", v);
}

AreaDataset::AreaDataset(const std::string &path) {
  static std::once_flag registered;
  std::call_once(registered, [] {
    GDALAllRegister();
    OSRSetPROJEnableNetwork(FALSE);
  });
  open_ = std::make_unique<Open>(path);
  open_->dataset.reset(GDALDataset::Open(open_->copy.Name().c_str(),
                                         GDAL_OF_VECTOR | GDAL_OF_READONLY,
                                         kAllowedDrivers));
  if (!open_->dataset)
    throw KError(ErrorCause::CannotOpen, "Cannot open file " + path);
}

AreaDataset::~AreaDataset() = default;

GDALDataset &AreaDataset::Get() const {
  return *open_->dataset;
}

} // namespace kestrane
