#include "joiner/TileSpool.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "platform/Errors.h"

namespace kestrane::joiner_detail {

namespace {

// Data written out in pieces of this size, entries in batches of this many.
constexpr size_t kDataBuffer = size_t{1} << 20;
constexpr size_t kEntryBuffer = 4096;

} // namespace

TileSpool::TileSpool(const std::string &target)
    : target_(target), data_(target), index_(target) {
  for (const AtomicFile *f : {&data_, &index_})
    if (!f->Valid())
      throw KError(ErrorCause::CannotWrite, "Cannot create file " + target +
                                                ": " +
                                                std::strerror(f->Error()));
  pending_.reserve(kDataBuffer);
  entries_.reserve(kEntryBuffer);
}

void TileSpool::Fail(const std::string &what, int e) const {
  throw KError(ErrorCause::CannotWrite, "Cannot write file " + target_ + ": " +
                                            what + ": " + std::strerror(e));
}

void TileSpool::Put(int fd, const char *data, size_t size,
                    uint64_t offset) const {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      Fail("spool", n < 0 ? errno : ENOSPC);
    data += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
}

void TileSpool::FlushData() {
  Put(data_.Fd(), pending_.data(), pending_.size(), dataWritten_);
  dataWritten_ += pending_.size();
  pending_.clear();
}

void TileSpool::FlushEntries() {
  Put(index_.Fd(), reinterpret_cast<const char *>(entries_.data()),
      entries_.size() * sizeof(SpoolEntry),
      static_cast<uint64_t>(entriesWritten_) * sizeof(SpoolEntry));
  entriesWritten_ += static_cast<int64_t>(entries_.size());
  entries_.clear();
}

void TileSpool::BeginLevel() {
  levelStart_.push_back(entriesWritten_ +
                        static_cast<int64_t>(entries_.size()));
}

void TileSpool::Add(std::string_view image, std::string_view mask) {
  SpoolEntry e;
  const auto append = [this](std::string_view bytes, uint64_t &at,
                             uint64_t &size) {
    if (bytes.empty())
      return;
    size = bytes.size();
    if (pending_.size() + bytes.size() > kDataBuffer)
      FlushData();
    at = dataWritten_ + pending_.size();
    if (bytes.size() >= kDataBuffer) {
      Put(data_.Fd(), bytes.data(), bytes.size(), dataWritten_);
      dataWritten_ += bytes.size();
    } else {
      pending_.append(bytes);
    }
  };
  if (!image.empty()) {
    append(image, e.Image, e.ImageSize);
    append(mask, e.Mask, e.MaskSize);
    ++totals_.Tiles;
    totals_.ImageBytes += e.ImageSize;
    if (e.MaskSize != 0) {
      ++totals_.Masks;
      totals_.MaskBytes += e.MaskSize;
    }
  }
  entries_.push_back(e);
  if (entries_.size() == kEntryBuffer)
    FlushEntries();
}

void TileSpool::EndLevel() {
  FlushData();
  FlushEntries();
}

void TileSpool::ReadEntries(int level, int64_t first, int64_t count,
                            SpoolEntry *out) const {
  const int64_t at = levelStart_[static_cast<size_t>(level)] + first;
  if (count <= 0)
    return;
  char *dst = reinterpret_cast<char *>(out);
  size_t left = static_cast<size_t>(count) * sizeof(SpoolEntry);
  uint64_t offset = static_cast<uint64_t>(at) * sizeof(SpoolEntry);
  while (left > 0) {
    const ssize_t n =
        ::pread(index_.Fd(), dst, left, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      Fail("spool", n < 0 ? errno : EIO);
    dst += n;
    left -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
}

uint64_t TileSpool::ReadUpTo(uint64_t offset, uint64_t size,
                             std::string &out) const {
  out.resize(size);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(data_.Fd(), out.data() + got, size - got,
                              static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  return got;
}

bool TileSpool::ReadData(uint64_t offset, uint64_t size,
                         std::string &out) const {
  return ReadUpTo(offset, size, out) == size;
}

void TileSpool::Release(uint64_t offset, uint64_t size) {
  if (size > 0)
    (void)::fallocate(data_.Fd(), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                      static_cast<off_t>(offset), static_cast<off_t>(size));
}

} // namespace kestrane::joiner_detail
