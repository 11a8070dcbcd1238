#include "platform/OutputChecks.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <string>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace kestrane {

const char *NonFileAt(const std::string &path) {
  struct stat st;
  // stat() follows a link; one that leads nowhere is replaced like a file.
  if (path.empty() || ::stat(path.c_str(), &st) != 0)
    return nullptr;
  if (S_ISREG(st.st_mode))
    return nullptr;
  if (S_ISDIR(st.st_mode))
    return "a folder";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
    return "a device";
  if (S_ISFIFO(st.st_mode))
    return "a FIFO";
  if (S_ISSOCK(st.st_mode))
    return "a socket";
  return "not a regular file";
}

void RefuseNonFileOutput(const std::string &path) {
  if (const char *what = NonFileAt(path))
    throw KError(ErrorCause::InputRefused,
                 "Cannot create file " + path + ": it is " + what);
}

std::optional<uint64_t> FreeDiskBytes(const std::string &folder) {
  struct statvfs vfs;
  if (::statvfs(folder.empty() ? "." : folder.c_str(), &vfs) != 0)
    return std::nullopt;
  return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

std::string SizeText(uint64_t bytes) {
  // Tenths counted in whole numbers: the text is the same in every locale.
  const auto tenths = [bytes](uint64_t unit, const char *name) {
    const uint64_t n = (bytes + unit / 20) / (unit / 10);
    return std::to_string(n / 10) + "." + std::to_string(n % 10) + " " + name;
  };
  if (bytes >= 1000000000)
    return tenths(1000000000, "GB");
  if (bytes >= 1000000)
    return tenths(1000000, "MB");
  return std::to_string(bytes) + " bytes";
}

std::string NoRoomText(const std::string &path, uint64_t needed,
                       uint64_t free) {
  if (needed <= kLargeWriteBytes || needed <= free)
    return {};
  return "Cannot create file " + path + ": it needs " + SizeText(needed) +
         ", and the disk has " + SizeText(free) + " free";
}

void CheckRoomFor(const std::string &path, uint64_t needed) {
  if (needed <= kLargeWriteBytes)
    return;
  const std::optional<uint64_t> free = FreeDiskBytes(ExtractFilePath(path));
  if (!free)
    return;
  if (std::string text = NoRoomText(path, needed, *free); !text.empty())
    throw KError(ErrorCause::CannotWrite, text);
}

} // namespace kestrane
