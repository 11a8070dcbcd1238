#include "platform/Files.h"

#include "platform/Errors.h"
#include "platform/Text.h"
#include "platform/UniqueFd.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kestrane {

namespace {

std::string ErrnoText(int e) {
  return std::generic_category().message(e);
}

void SetReason(std::string *reason, int e) {
  if (reason != nullptr)
    *reason = ErrnoText(e);
}

// A file without any write permission is read-only to this program, even
// when it runs as root: the user marked it so, the way a read-only
// attribute protects a file.
bool IsReadOnly(int dirFd, const std::string &name, const struct stat &st) {
  return (st.st_mode & 0222) == 0 ||
         ::faccessat(dirFd, name.c_str(), W_OK, 0) != 0;
}

// What stands at an atomic write's target before the write.
struct TargetState {
  bool exists = false; // a file of ours (not a link) that the write replaces
  struct stat old {};  // its mode and owner, carried over to the new file
};

// 0 when the write may go ahead, else the errno that refuses it: an empty
// path or a folder's, anything there when `replace` is false, a folder or
// other non-file, a file marked read-only.
int CheckTarget(int dirFd, const std::string &path, bool replace,
                TargetState &state) {
  if (path.empty() || path.back() == '/')
    return path.empty() ? ENOENT : EISDIR;
  struct stat &old = state.old;
  const bool present =
      ::fstatat(dirFd, path.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  // A link is no file of ours: its mode and owner are not carried over.
  state.exists = present && !S_ISLNK(old.st_mode);
  if (present && !replace)
    return EEXIST;
  if (!state.exists)
    return 0;
  if (S_ISDIR(old.st_mode))
    return EISDIR;
  if (!S_ISREG(old.st_mode))
    return EINVAL;
  if (IsReadOnly(dirFd, path, old))
    return EACCES;
  return 0;
}

// Fills the temporary file: the bytes, and the replaced file's mode and
// (when this process may) its owner. 0, or the errno of the step that
// failed.
int FillTemp(AtomicFile &file, std::string_view bytes,
             const TargetState &state) {
  if (const int e = file.Write(bytes); e != 0)
    return e;
  if (state.exists) {
    const struct stat &old = state.old;
    if (::fchmod(file.Fd(), old.st_mode & 07777) != 0)
      return errno;
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
      if (::fchown(file.Fd(), old.st_uid, old.st_gid) != 0) {
        // Only a privileged process may give a file away; the content is
        // what matters, so an unprivileged writer keeps its own ownership.
      }
    }
  }
  return 0;
}

// The writer of whole files from memory: the bytes go to an AtomicFile
// (flushed to the disk first when `sync` is set) and then take the target's
// place in one rename, so a reader or a crash of the process sees either the
// old file or the complete new one. The rename itself is settled on the disk
// only when SyncFileSystem is called; until then a power cut may still leave
// the old file. A symbolic link at the target is replaced like a file
// (rename never follows it), so a link planted in a shared folder cannot
// steer the write to another file. With `replace` false anything at the
// target, a link included, is kept and the call fails with EEXIST. `path`
// is relative to the folder open as `dirFd` (AT_FDCWD: the working folder).
bool WriteAtomically(int dirFd, const std::string &path, std::string_view bytes,
                     bool replace, std::string *reason, bool sync = true,
                     unsigned newFileMode = kNewFileMode,
                     FileStamp *placed = nullptr) {
  TargetState state;
  if (const int e = CheckTarget(dirFd, path, replace, state); e != 0) {
    SetReason(reason, e);
    return false;
  }
  AtomicFile file(dirFd, path, newFileMode);
  int e = file.Valid() ? FillTemp(file, bytes, state) : file.Error();
  if (e == 0)
    e = file.Commit(sync, replace, placed);
  if (e == 0)
    return true;
  SetReason(reason, e);
  return false;
}

} // namespace

bool FileExists(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string &path) {
  return !path.empty() && ::mkdir(path.c_str(), 0777) == 0;
}

bool CopyFileTo(const std::string &src, const std::string &dst,
                bool failIfExists) {
  return CopyFileToAt(src, AT_FDCWD, dst, failIfExists);
}

bool CopyFileToAt(const std::string &src, int dirFd, const std::string &dst,
                  bool failIfExists) {
  std::optional<std::string> bytes = TryReadFileBytes(src);
  if (!bytes)
    return false;
  return WriteAtomically(dirFd, dst, *bytes, !failIfExists, nullptr);
}

bool FileExistsAt(int dirFd, const std::string &name) {
  struct stat st;
  return ::fstatat(dirFd, name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode);
}

UniqueFd OpenFolder(const std::string &path) {
  return UniqueFd(
      ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

std::vector<std::string> ReadLines(const std::string &path, size_t maxBytes) {
  const std::string bytes = ReadFileBytes(path, maxBytes);
  std::vector<std::string> lines;
  for (const TextLine &line : SplitLines(bytes))
    lines.emplace_back(line.Text);
  return lines;
}

void WriteLines(const std::string &path,
                const std::vector<std::string> &lines) {
  size_t total = 0;
  for (const std::string &line : lines)
    total += line.size() + 2;
  std::string bytes;
  bytes.reserve(total);
  for (const std::string &line : lines) {
    bytes += line;
    bytes += "\r\n";
  }
  if (!WriteAtomically(AT_FDCWD, path, bytes, true, nullptr))
    throw KError(ErrorCause::CannotWrite, "Cannot create file " + path);
}

std::optional<std::string> TryReadFileBytes(const std::string &path,
                                            bool *missing, size_t maxBytes) {
  if (missing != nullptr)
    *missing = false;
  // O_NONBLOCK: opening a FIFO without a writer returns at once instead of
  // waiting for one; the type check below then refuses it.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0) {
    if (missing != nullptr)
      *missing = errno == ENOENT || errno == ENOTDIR;
    return std::nullopt;
  }
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<unsigned long long>(st.st_size) > maxBytes)
    return std::nullopt;
  std::string bytes;
  bytes.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.Get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return std::nullopt;
    }
    if (n == 0)
      break;
    // A file that grows while it is read is still held to the bound.
    if (bytes.size() + static_cast<size_t>(n) > maxBytes)
      return std::nullopt;
    bytes.append(buf, static_cast<size_t>(n));
  }
  return bytes;
}

size_t ReadUpTo(int fd, void *into, size_t size) {
  char *at = static_cast<char *>(into);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, at + got, size - got);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    got += static_cast<size_t>(n);
  }
  return got;
}

BoundedRead ReadBoundedFile(int dirFd, const char *name, size_t maxBytes,
                            std::string &out, int openFlags, FileStamp *stamp) {
  UniqueFd fd(
      ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | openFlags));
  if (!fd.Valid())
    return errno == ENOENT ? BoundedRead::Missing : BoundedRead::Unopened;
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0)
    return BoundedRead::Unopened;
  if (!S_ISREG(st.st_mode) ||
      static_cast<unsigned long long>(st.st_size) > maxBytes)
    return BoundedRead::Refused;
  if (stamp != nullptr)
    *stamp = StampOf(st);
  out.resize(static_cast<size_t>(st.st_size));
  const size_t got = ReadUpTo(fd.Get(), out.data(), out.size());
  out.resize(got);
  return got == static_cast<size_t>(st.st_size) ? BoundedRead::Whole
                                                : BoundedRead::Short;
}

std::string ReadFileBytes(const std::string &path, size_t maxBytes) {
  std::optional<std::string> bytes = TryReadFileBytes(path, nullptr, maxBytes);
  if (!bytes)
    throw KError(ErrorCause::CannotOpen, "Cannot open file " + path);
  return std::move(*bytes);
}

bool WriteFileAtomic(const std::string &path, std::string_view bytes,
                     std::string *reason, unsigned newFileMode) {
  return WriteAtomically(AT_FDCWD, path, bytes, true, reason, true,
                         newFileMode);
}

bool WriteFileAtomicUnsynced(const std::string &path, std::string_view bytes,
                             std::string *reason) {
  return WriteFileAtomicUnsyncedAt(AT_FDCWD, path, bytes, reason);
}

bool WriteFileAtomicUnsyncedAt(int dirFd, const std::string &name,
                               std::string_view bytes, std::string *reason,
                               FileStamp *placed) {
  return WriteAtomically(dirFd, name, bytes, true, reason, false, kNewFileMode,
                         placed);
}

bool SyncFileSystem(const std::string &path) {
  // O_NONBLOCK: a FIFO put in the file's place must not stop the caller.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  return fd.Get() >= 0 && ::syncfs(fd.Get()) == 0;
}

std::string ProgramFolder() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0)
    return std::string(); // data files are then looked for from the cwd
  return ExtractFilePath(std::string(buf, static_cast<size_t>(n)));
}

std::string ExtractFilePath(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFileExt(const std::string &path) {
  size_t dot = path.rfind('.');
  if (dot == std::string::npos)
    return std::string();
  size_t delim = path.rfind('/');
  if (delim != std::string::npos && delim > dot)
    return std::string();
  return path.substr(dot);
}

std::string IncludeTrailingDelimiter(const std::string &folder) {
  if (!folder.empty() && folder.back() == '/')
    return folder;
  return folder + "/";
}

} // namespace kestrane
