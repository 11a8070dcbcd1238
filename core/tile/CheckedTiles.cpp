#include "tile/CheckedTiles.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include "platform/AtomicFile.h"
#include "platform/Files.h"

namespace kestrane {

namespace {

constexpr size_t kEntryBytes = 32;
// The first line, padded to one entry's size.
constexpr std::string_view kHeader = "kestrane checked tiles 1       \n";
static_assert(kHeader.size() == kEntryBytes);

using EntryBytes = std::array<unsigned char, kEntryBytes>;

void PutNumber(unsigned char *at, uint64_t v) {
  for (int i = 0; i < 8; ++i)
    at[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint64_t GetNumber(const unsigned char *at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i)
    v = v << 8 | at[i];
  return v;
}

// An entry's size, change time and content hash in one number, so that
// an entry takes 16 bytes in the joiner's memory.
uint64_t DigestOf(uint64_t size, uint64_t changedNs, uint64_t hash) {
  const uint64_t parts[3] = {size, changedNs, hash};
  return XXH3_64bits(parts, sizeof parts);
}

// Whether what is open as `fd` may be trusted as the record: a regular
// file with one link, of this user or root, which nobody else may write.
bool IsPrivateRecord(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
         (st.st_uid == ::geteuid() || st.st_uid == 0) &&
         (st.st_mode & 022) == 0;
}

UniqueFd OpenPrivate(const std::string &path, int flags) {
  UniqueFd fd(
      ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.Valid() && !IsPrivateRecord(fd.Get()))
    fd.Reset(-1);
  return fd;
}

} // namespace

uint64_t TileBytesHash(std::string_view bytes) {
  return XXH3_64bits(bytes.data(), bytes.size());
}

void CreateCheckedTiles(const std::string &path) {
  // The header goes in with the file, in one step: a record is never seen
  // without it.
  AtomicFile fresh(path, kPrivateFileMode);
  if (fresh.Valid() && fresh.Write(kHeader) == 0)
    fresh.Commit(false, false); // EEXIST: the record is there already
}

CheckedTileRecord::CheckedTileRecord(const std::string &path) {
  fd_ = OpenPrivate(path, O_RDWR | O_APPEND);
  // A record of another layout is left as it is.
  EntryBytes header;
  if (fd_.Valid() &&
      (::pread(fd_.Get(), header.data(), header.size(), 0) !=
           static_cast<ssize_t>(header.size()) ||
       std::memcmp(header.data(), kHeader.data(), kEntryBytes) != 0))
    fd_.Reset(-1);
}

void CheckedTileRecord::Add(const FileStamp &stamp, std::string_view bytes) {
  if (!fd_.Valid() || stamp == FileStamp{})
    return;
  EntryBytes e;
  PutNumber(&e[0], stamp.Inode);
  PutNumber(&e[8], stamp.Size);
  PutNumber(&e[16], static_cast<uint64_t>(stamp.ChangedNs));
  PutNumber(&e[24], TileBytesHash(bytes));
  // One write of a whole entry. If it fails, or comes out short on a full
  // disk, the record stops here: a torn entry is read as none.
  if (::write(fd_.Get(), e.data(), e.size()) != static_cast<ssize_t>(e.size()))
    fd_.Reset(-1);
}

CheckedTiles CheckedTiles::Read(const std::string &path, size_t maxEntries) {
  CheckedTiles record;
  const UniqueFd fd = OpenPrivate(path, O_RDONLY);
  EntryBytes header;
  if (!fd.Valid() ||
      ReadUpTo(fd.Get(), header.data(), header.size()) != header.size() ||
      std::memcmp(header.data(), kHeader.data(), kEntryBytes) != 0)
    return record;
  struct stat st;
  if (::fstat(fd.Get(), &st) == 0)
    record.entries_.reserve(
        std::min(maxEntries, static_cast<size_t>(st.st_size) / kEntryBytes));
  std::array<unsigned char, kEntryBytes * 2048> block;
  while (record.entries_.size() < maxEntries) {
    const size_t got = ReadUpTo(fd.Get(), block.data(), block.size());
    for (size_t at = 0;
         at + kEntryBytes <= got && record.entries_.size() < maxEntries;
         at += kEntryBytes) {
      const unsigned char *e = &block[at];
      record.entries_.push_back(
          {GetNumber(e),
           DigestOf(GetNumber(e + 8), GetNumber(e + 16), GetNumber(e + 24))});
    }
    if (got < block.size())
      break;
  }
  std::sort(record.entries_.begin(), record.entries_.end());
  return record;
}

bool CheckedTiles::Vouches(const FileStamp &stamp,
                           std::string_view bytes) const {
  if (entries_.empty() || stamp == FileStamp{} || bytes.size() != stamp.Size)
    return false;
  const Entry e{stamp.Inode,
                DigestOf(stamp.Size, static_cast<uint64_t>(stamp.ChangedNs),
                         TileBytesHash(bytes))};
  return std::binary_search(entries_.begin(), entries_.end(), e);
}

void RemoveCheckedTiles(const std::string &path) {
  ::unlink(path.c_str());
}

} // namespace kestrane
