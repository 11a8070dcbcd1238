#pragma once
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "geo/TileGrid.h"
#include "task/DownloadTask.h"
#include "tests/support/TaskBlock.h"
#include "tests/support/TempDir.h"

namespace kestrane::tasktest {

using ::kestrane::testing::DiskState;
using ::kestrane::testing::GetBytes;
using ::kestrane::testing::PutBytes;
using ::kestrane::testing::TempDir;
inline bool Exists(const std::string &path) {
  return std::filesystem::exists(path);
}

// Lines joined as the program writes them: each ended by CR LF.
inline std::string CrLf(const std::vector<std::string> &lines) {
  std::string s;
  for (const std::string &l : lines)
    s += l + "\r\n";
  return s;
}

// Splits on CR LF; a final CR LF makes no extra empty element.
inline std::vector<std::string> SplitCrLf(const std::string &bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(start));
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The reference area: zoom 18 around Seattle, 9 x 12 tiles.
inline TaskParameters ExampleParams(const std::string &path, int32_t dir = 0) {
  TaskParameters p;
  p.LeftLongitude = -122.34;
  p.RightLongitude = -122.33;
  p.TopLatitude = 47.61;
  p.BottomLatitude = 47.60;
  p.Zoom = 18;
  p.Dir = dir;
  p.Path = path;
  p.TaskFileName = "newtask.ktsk";
  return p;
}

using fixture::SetBlock;

// A clock that always says the same time.
inline TaskEnvironment FixedEnvironment(std::time_t t = 1700000000) {
  TaskEnvironment env;
  env.Now = [t] { return t; };
  return env;
}

} // namespace kestrane::tasktest
