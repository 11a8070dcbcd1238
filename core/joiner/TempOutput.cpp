#include "joiner/TempOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace kestrane {

TempOutput::TempOutput(const std::string &target) : target_(target) {
  const std::string pattern =
      ExtractFilePath(target) + "." + ExtractFileName(target) + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_.Reset(::mkstemp(name.data()));
  if (!fd_.Valid())
    throw KError(ErrorCause::CannotWrite,
                 "Cannot create file " + target + ": " + std::strerror(errno));
  path_ = name.data();
  // mkstemp makes the file for its owner only; the picture gets the mode
  // of any new file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd_.Get(), 0666 & ~mask);
}

TempOutput::~TempOutput() {
  if (!committed_)
    ::unlink(path_.c_str());
}

void TempOutput::Commit() {
  if (std::rename(path_.c_str(), target_.c_str()) != 0)
    throw KError(ErrorCause::CannotWrite,
                 "Cannot create file " + target_ + ": " + std::strerror(errno));
  committed_ = true;
}

} // namespace kestrane
