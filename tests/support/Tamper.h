#pragma once
// A hand that changes a file and hides it: the first bytes overwritten in
// place, then its access and modification times put back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/UniqueFd.h"

namespace kestrane::test {

inline void OverwriteKeepingTimes(const std::string &path) {
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0) << path;
  {
    const UniqueFd fd(::open(path.c_str(), O_WRONLY));
    ASSERT_EQ(::pwrite(fd.Get(), "XX", 2, 0), 2) << path;
  }
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

} // namespace kestrane::test
