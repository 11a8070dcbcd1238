#include "platform/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/Files.h"

namespace kestrane {

namespace {

std::atomic<unsigned> tempCounter{0};

constexpr std::string_view kTempPrefix = ".kestrane-tmp-";
constexpr std::string_view kTempSuffix = ".part";

// Creates a new temporary file in the target's folder; its name holds the
// process id and a counter, so no two writers (threads or processes) share
// one.
int CreateTemp(int dirFd, const std::string &target, unsigned mode,
               std::string *tempPath) {
  const std::string folder = ExtractFilePath(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    *tempPath = folder + std::string(kTempPrefix) + std::to_string(::getpid()) +
                "-" + std::to_string(tempCounter.fetch_add(1)) +
                std::string(kTempSuffix);
    int fd = ::openat(dirFd, tempPath->c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      static_cast<mode_t>(mode));
    if (fd >= 0 || errno != EEXIST)
      return fd;
  }
  errno = EEXIST;
  return -1;
}

// Puts the complete temporary file at the target: rename() replaces
// whatever is there; without `replace`, link() puts it in place only when
// nothing is there yet, so a file that appeared since the check is still
// kept. 0, or the errno that stopped it; the temporary file is left for the
// caller to remove.
int PutInPlace(int dirFd, const std::string &temp, const std::string &target,
               bool replace) {
  const char *from = temp.c_str(), *to = target.c_str();
  if (replace)
    return ::renameat(dirFd, from, dirFd, to) != 0 ? errno : 0;
  if (::linkat(dirFd, from, dirFd, to, 0) == 0) {
    ::unlinkat(dirFd, from, 0);
    return 0;
  }
  const int e = errno;
  if (e != EPERM && e != EOPNOTSUPP && e != ENOTSUP && e != EMLINK)
    return e;
  // A file system without hard links: fall back to check-then-rename.
  struct stat now;
  if (::fstatat(dirFd, to, &now, AT_SYMLINK_NOFOLLOW) == 0)
    return EEXIST;
  return ::renameat(dirFd, from, dirFd, to) != 0 ? errno : 0;
}

} // namespace

AtomicFile::AtomicFile(std::string target, unsigned newFileMode)
    : AtomicFile(AT_FDCWD, std::move(target), newFileMode) {}

AtomicFile::AtomicFile(int dirFd, std::string target, unsigned newFileMode)
    : dirFd_(dirFd), target_(std::move(target)) {
  if (target_.empty() || target_.back() == '/') {
    error_ = target_.empty() ? ENOENT : EISDIR;
    return;
  }
  fd_.Reset(CreateTemp(dirFd_, target_, newFileMode, &temp_));
  created_ = fd_.Valid();
  if (!created_)
    error_ = errno;
}

AtomicFile::~AtomicFile() {
  fd_.Reset();
  if (created_ && !committed_)
    ::unlinkat(dirFd_, temp_.c_str(), 0);
}

int AtomicFile::Write(std::string_view bytes) {
  const char *p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_.Get(), p, left);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return 0;
}

int AtomicFile::Commit(bool sync, bool replace, FileStamp *placed) {
  if (!created_)
    return error_;
  int e = 0;
  struct stat written {};
  if (placed != nullptr && fd_.Valid() && ::fstat(fd_.Get(), &written) != 0)
    placed = nullptr;
  if (fd_.Valid() && sync && ::fdatasync(fd_.Get()) != 0)
    e = errno;
  // Unsynced, the writing to the disk starts now all the same, without
  // waiting for it: the one sync that later settles many files at once
  // (SyncFileSystem) then finds little left to write.
  if (fd_.Valid() && !sync)
    ::sync_file_range(fd_.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  // A delayed write error (NFS, quota) shows up only at close.
  if (fd_.Close() != 0 && e == 0)
    e = errno;
  if (e == 0)
    e = PutInPlace(dirFd_, temp_, target_, replace);
  if (e == 0) {
    committed_ = true;
    // The stamp of what stands at the target now, if that is the inode
    // written here: a file put there by someone else since is not stamped.
    struct stat now {};
    if (placed != nullptr &&
        ::fstatat(dirFd_, target_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(now.st_mode) && now.st_ino == written.st_ino &&
        now.st_dev == written.st_dev)
      *placed = StampOf(now);
    return 0;
  }
  ::unlinkat(dirFd_, temp_.c_str(), 0);
  created_ = false; // nothing is left to remove
  return e;
}

bool IsTemporaryName(const std::string &name, long *owner) {
  const std::string_view n(name);
  if (!n.starts_with(kTempPrefix) || !n.ends_with(kTempSuffix))
    return false;
  const std::string_view middle = n.substr(
      kTempPrefix.size(), n.size() - kTempPrefix.size() - kTempSuffix.size());
  const size_t dash = middle.find('-');
  if (dash == std::string_view::npos)
    return false;
  const std::string_view pid = middle.substr(0, dash);
  const std::string_view counter = middle.substr(dash + 1);
  const auto digits = [](std::string_view s, size_t most) {
    if (s.empty() || s.size() > most)
      return false;
    for (char c : s)
      if (c < '0' || c > '9')
        return false;
    return true;
  };
  if (!digits(pid, 9) || !digits(counter, 10))
    return false;
  long value = 0;
  for (char c : pid)
    value = value * 10 + (c - '0');
  if (value <= 0)
    return false;
  if (owner != nullptr)
    *owner = value;
  return true;
}

size_t RemoveStaleTemporaries(const std::string &folder) {
  DIR *dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir)
    return 0;
  size_t removed = 0;
  while (const dirent *entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    long owner = 0;
    if (!IsTemporaryName(name, &owner))
      continue;
    // A writer that still runs keeps its file; the others were cut short.
    if (::kill(static_cast<pid_t>(owner), 0) == 0 || errno != ESRCH)
      continue;
    struct stat st;
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
      continue;
    if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
      ++removed;
  }
  ::closedir(dir);
  return removed;
}

} // namespace kestrane
