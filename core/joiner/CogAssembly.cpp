#include "joiner/CogAssembly.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "joiner/MaskTile.h"
#include "platform/Errors.h"

namespace kestrane::joiner_detail {

namespace {

constexpr size_t kOutBuffer = size_t{1} << 20;
constexpr size_t kReadWindow = size_t{1} << 20;
constexpr int64_t kChunk = 4096; // entries read, array entries written
constexpr uint64_t kReleaseEvery = uint64_t{64} << 20;

void PutLe(std::string &s, uint64_t v, unsigned bytes) {
  for (unsigned i = 0; i < bytes; ++i)
    s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// The picture file: blocks appended through a buffer from the data's
// start, everything else written in place.
class FileOut {
public:
  FileOut(int fd, const std::string &target, uint64_t start)
      : fd_(fd), target_(target), flushed_(start) {
    buffer_.reserve(kOutBuffer);
  }
  uint64_t Position() const { return flushed_ + buffer_.size(); }
  void Append(std::string_view bytes) {
    if (buffer_.size() + bytes.size() > kOutBuffer)
      Flush();
    if (bytes.size() >= kOutBuffer) {
      PutAt(flushed_, bytes);
      flushed_ += bytes.size();
    } else {
      buffer_.append(bytes);
    }
  }
  void Flush() {
    PutAt(flushed_, buffer_);
    flushed_ += buffer_.size();
    buffer_.clear();
  }
  void PutAt(uint64_t offset, std::string_view bytes) const {
    while (!bytes.empty()) {
      const ssize_t n =
          ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        throw KError(ErrorCause::CannotWrite,
                     "Cannot write file " + target_ +
                         ": tiles: " + std::strerror(n < 0 ? errno : ENOSPC));
      bytes.remove_prefix(static_cast<size_t>(n));
      offset += static_cast<uint64_t>(n);
    }
  }

private:
  int fd_;
  const std::string &target_;
  uint64_t flushed_;
  std::string buffer_;
};

// One tile array of a directory, filled entry by entry.
class ArrayOut {
public:
  ArrayOut(const FileOut &out, uint64_t place, unsigned width)
      : out_(out), place_(place), width_(width) {}
  void Add(uint64_t value) {
    for (unsigned i = 0; i < width_; ++i)
      pending_[used_++] = static_cast<char>((value >> (8 * i)) & 0xFF);
    if (used_ + 8 > sizeof pending_)
      Flush();
  }
  void Flush() {
    out_.PutAt(place_ + written_, std::string_view(pending_, used_));
    written_ += used_;
    used_ = 0;
  }

private:
  const FileOut &out_;
  uint64_t place_, written_ = 0;
  unsigned width_;
  char pending_[kChunk * 8];
  size_t used_ = 0;
};

// Reads one level's data from the spool front to back through a window,
// giving back the disk space of what has been read.
class SpoolReader {
public:
  explicit SpoolReader(TileSpool &spool) : spool_(spool) {}
  // The bytes stay valid until the next call. Throws KError when the spool
  // cannot be read back.
  std::string_view Get(uint64_t offset, uint64_t size,
                       const std::string &target) {
    if (!started_) {
      started_ = true;
      releasedTo_ = offset;
    }
    if (offset >= windowAt_ && offset + size <= windowAt_ + window_.size())
      return std::string_view(window_).substr(offset - windowAt_, size);
    if (offset - releasedTo_ >= kReleaseEvery) {
      spool_.Release(releasedTo_, offset - releasedTo_);
      releasedTo_ = offset;
    }
    windowAt_ = offset;
    if (spool_.ReadUpTo(offset, std::max<uint64_t>(size, kReadWindow),
                        window_) < size)
      throw KError(ErrorCause::CannotWrite,
                   "Cannot write file " + target + ": spool: read error");
    return std::string_view(window_).substr(0, size);
  }
  // The level is copied: its space, and that of the levels after it in the
  // spool (copied before it), is given back.
  void EndLevel() {
    if (started_ && windowAt_ + window_.size() > releasedTo_)
      spool_.Release(releasedTo_, windowAt_ + window_.size() - releasedTo_);
    started_ = false;
  }

private:
  TileSpool &spool_;
  std::string window_;
  uint64_t windowAt_ = 0, releasedTo_ = 0;
  bool started_ = false;
};

// Appends one block: the size, the bytes, their last four again. Returns
// where the bytes start.
uint64_t AppendBlock(FileOut &out, std::string_view bytes) {
  std::string edge;
  PutLe(edge, bytes.size(), 4);
  out.Append(edge);
  const uint64_t at = out.Position();
  out.Append(bytes);
  edge.assign(4, '\0');
  if (bytes.size() >= 4)
    edge = bytes.substr(bytes.size() - 4);
  out.Append(edge);
  return at;
}

// One level: its tiles in row order, each image block followed by its
// mask block, and its arrays. False when stopped.
bool AssembleLevel(const CogHeader &header, size_t level, int64_t tiles,
                   bool masks, TileSpool &spool, FileOut &out,
                   const std::string &target, int64_t &done, int64_t total,
                   const AssemblyTick &tick) {
  const unsigned w = header.EntryBytes;
  ArrayOut offsets(out, header.Images[level].Offsets, w);
  ArrayOut counts(out, header.Images[level].Counts, w);
  ArrayOut maskOffsets(out, masks ? header.Masks[level].Offsets : 0, w);
  ArrayOut maskCounts(out, masks ? header.Masks[level].Counts : 0, w);
  SpoolReader reader(spool);
  std::vector<SpoolEntry> entries(static_cast<size_t>(kChunk));
  for (int64_t first = 0; first < tiles; first += kChunk) {
    if (!tick(done, total))
      return false;
    const int64_t n = std::min(kChunk, tiles - first);
    spool.ReadEntries(static_cast<int>(level), first, n, entries.data());
    for (int64_t i = 0; i < n; ++i) {
      const SpoolEntry &e = entries[static_cast<size_t>(i)];
      uint64_t at = 0, maskAt = 0, maskSize = 0;
      if (e.ImageSize != 0) {
        at = AppendBlock(out, reader.Get(e.Image, e.ImageSize, target));
        const std::string_view mask =
            e.MaskSize != 0 ? reader.Get(e.Mask, e.MaskSize, target)
                            : std::string_view(FullMaskBytes());
        if (masks) {
          maskAt = AppendBlock(out, mask);
          maskSize = mask.size();
        }
      }
      offsets.Add(at);
      counts.Add(e.ImageSize);
      if (masks) {
        maskOffsets.Add(maskAt);
        maskCounts.Add(maskSize);
      }
    }
    done += n;
  }
  reader.EndLevel();
  offsets.Flush();
  counts.Flush();
  if (masks) {
    maskOffsets.Flush();
    maskCounts.Flush();
  }
  return true;
}

} // namespace

uint64_t CogDataBytes(const TileSpool::Totals &t, bool masks) {
  constexpr uint64_t kEdges = kBlockLeader + kBlockTrailer;
  const auto tiles = static_cast<uint64_t>(t.Tiles);
  uint64_t bytes = t.ImageBytes + tiles * kEdges;
  if (masks) {
    const auto whole = static_cast<uint64_t>(t.Tiles - t.Masks);
    bytes += t.MaskBytes + whole * FullMaskBytes().size() + tiles * kEdges;
  }
  return bytes;
}

bool AssembleCog(const CogHeader &header, const CogShape &shape,
                 TileSpool &spool, int fd, const std::string &target,
                 const AssemblyTick &tick) {
  FileOut out(fd, target, header.DataStart);
  out.PutAt(0, header.Bytes);
  int64_t total = 0, done = 0;
  for (const GridSize &g : shape.Levels)
    total += g.Tiles();
  for (size_t l = shape.Levels.size(); l-- > 0;)
    if (!AssembleLevel(header, l, shape.Levels[l].Tiles(), shape.Masks, spool,
                       out, target, done, total, tick))
      return false;
  out.Flush();
  return tick(total, total);
}

} // namespace kestrane::joiner_detail
