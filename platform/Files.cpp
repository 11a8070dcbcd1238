#include "platform/Files.h"

#include "platform/Errors.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
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

// Closes a descriptor when it goes out of scope (failure paths).
class Fd {
public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  ~Fd() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now and reports the result: a delayed write error (NFS, quota)
  // shows up only here.
  int Close() {
    int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  const char *p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// Writes through a link to the file it names, so that replacing the file
// does not replace the link with a plain file.
std::string ResolveLink(const std::string &path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
    return path;
  char *real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr)
    return path; // dangling: the new file takes the link's place
  std::string out(real);
  std::free(real);
  return out;
}

// A file without any write permission is read-only to this program, even
// when it runs as root: the user marked it so, the way a read-only
// attribute protects a file.
bool IsReadOnly(const std::string &path, const struct stat &st) {
  return (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

std::atomic<unsigned> tempCounter{0};

// Creates a new temporary file beside `target`; its name holds the process
// id and a counter, so no two writers (threads or processes) share one.
int CreateTemp(const std::string &target, std::string *tempPath) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *tempPath = target + ".tmp" + std::to_string(::getpid()) + "." +
                std::to_string(tempCounter.fetch_add(1));
    int fd = ::open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    0666);
    if (fd >= 0 || errno != EEXIST)
      return fd;
  }
  errno = EEXIST;
  return -1;
}

// The shared writer: the bytes go to a temporary file in the target's folder,
// reach the disk, and then take the target's place in one rename, so the
// target is either the old file or the complete new one. With `replace`
// false an existing target is kept and the call fails with EEXIST.
bool WriteAtomically(const std::string &path, std::string_view bytes,
                     bool replace, std::string *reason, bool sync = true) {
  if (path.empty() || path.back() == '/') {
    SetReason(reason, path.empty() ? ENOENT : EISDIR);
    return false;
  }
  const std::string target = ResolveLink(path);
  struct stat old;
  bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists) {
    if (S_ISDIR(old.st_mode)) {
      SetReason(reason, EISDIR);
      return false;
    }
    if (!replace) {
      SetReason(reason, EEXIST);
      return false;
    }
    if (!S_ISREG(old.st_mode)) {
      SetReason(reason, EINVAL);
      return false;
    }
    if (IsReadOnly(target, old)) {
      SetReason(reason, EACCES);
      return false;
    }
  }

  std::string temp;
  Fd fd(CreateTemp(target, &temp));
  if (fd.get() < 0) {
    SetReason(reason, errno);
    return false;
  }
  auto fail = [&](int e) {
    SetReason(reason, e);
    ::unlink(temp.c_str());
    return false;
  };
  if (!WriteAll(fd.get(), bytes))
    return fail(errno);
  if (exists) {
    if (::fchmod(fd.get(), old.st_mode & 07777) != 0)
      return fail(errno);
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
      if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
        // Only a privileged process may give a file away; the content is
        // what matters, so an unprivileged writer keeps its own ownership.
      }
    }
  }
  if (sync && ::fdatasync(fd.get()) != 0)
    return fail(errno);
  if (fd.Close() != 0)
    return fail(errno);

  if (replace) {
    if (::rename(temp.c_str(), target.c_str()) != 0)
      return fail(errno);
    return true;
  }
  // link() puts the file in place only when nothing is there yet, so a file
  // that appeared since the check above is still kept.
  if (::link(temp.c_str(), target.c_str()) != 0) {
    int e = errno;
    if (e != EPERM && e != EOPNOTSUPP && e != ENOTSUP && e != EMLINK)
      return fail(e);
    // A file system without hard links: fall back to check-then-rename.
    struct stat now;
    if (::stat(target.c_str(), &now) == 0)
      return fail(EEXIST);
    if (::rename(temp.c_str(), target.c_str()) != 0)
      return fail(errno);
    return true;
  }
  ::unlink(temp.c_str());
  return true;
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
  std::optional<std::string> bytes = TryReadFileBytes(src);
  if (!bytes)
    return false;
  return WriteAtomically(dst, *bytes, !failIfExists, nullptr);
}

std::vector<std::string> ReadLines(const std::string &path) {
  std::string bytes = ReadFileBytes(path);
  std::vector<std::string> lines;
  size_t start = 0;
  const size_t n = bytes.size();
  for (size_t i = 0; i < n; ++i) {
    char c = bytes[i];
    if (c != '\r' && c != '\n')
      continue;
    lines.emplace_back(bytes, start, i - start);
    if (c == '\r' && i + 1 < n && bytes[i + 1] == '\n')
      ++i;
    start = i + 1;
  }
  if (start < n)
    lines.emplace_back(bytes, start, n - start);
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
  if (!WriteAtomically(path, bytes, true, nullptr))
    throw KError("Cannot create file " + path);
}

std::optional<std::string> TryReadFileBytes(const std::string &path,
                                            bool *missing) {
  if (missing != nullptr)
    *missing = false;
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (missing != nullptr)
      *missing = errno == ENOENT || errno == ENOTDIR;
    return std::nullopt;
  }
  std::string bytes;
  struct stat st;
  if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    bytes.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return std::nullopt; // a folder gives EISDIR here
    }
    if (n == 0)
      break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  return bytes;
}

std::string ReadFileBytes(const std::string &path) {
  std::optional<std::string> bytes = TryReadFileBytes(path);
  if (!bytes)
    throw KError("Cannot open file " + path);
  return std::move(*bytes);
}

bool WriteFileAtomic(const std::string &path, std::string_view bytes,
                     std::string *reason) {
  return WriteAtomically(path, bytes, true, reason);
}

bool WriteFileAtomicUnsynced(const std::string &path, std::string_view bytes,
                             std::string *reason) {
  return WriteAtomically(path, bytes, true, reason, false);
}

bool SyncFileSystem(const std::string &path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  return fd.get() >= 0 && ::syncfs(fd.get()) == 0;
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

namespace kestrane {

namespace {

// The process id in a temporary name made by CreateTemp (target + ".tmp" +
// pid + "." + counter), or 0 when the name is not one of ours.
pid_t TemporaryOwner(const std::string &name) {
  const size_t tmp = name.rfind(".tmp");
  if (tmp == std::string::npos)
    return 0;
  const size_t dot = name.find('.', tmp + 4);
  if (dot == std::string::npos || dot == tmp + 4 || dot + 1 == name.size())
    return 0;
  for (size_t i = tmp + 4; i < name.size(); ++i)
    if (i != dot && (name[i] < '0' || name[i] > '9'))
      return 0;
  if (dot - (tmp + 4) > 9)
    return 0;
  return static_cast<pid_t>(std::stol(name.substr(tmp + 4, dot - tmp - 4)));
}

} // namespace

size_t RemoveStaleTemporaries(const std::string &folder) {
  DIR *dir = ::opendir(folder.c_str());
  if (!dir)
    return 0;
  size_t removed = 0;
  while (const dirent *entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const pid_t owner = TemporaryOwner(name);
    // A writer that still runs keeps its file; the others were cut short.
    if (owner <= 0 || (::kill(owner, 0) == 0 || errno == EPERM))
      continue;
    if (::unlink((IncludeTrailingDelimiter(folder) + name).c_str()) == 0)
      ++removed;
  }
  ::closedir(dir);
  return removed;
}

} // namespace kestrane
