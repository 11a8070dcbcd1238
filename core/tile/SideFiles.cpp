#include "tile/SideFiles.h"

#include <cstdio>

namespace kestrane {

std::string_view SideFileSuffix(SideFile kind) {
  return kind == SideFile::Crashed ? kCrashedSuffix : kInvalidSuffix;
}

std::string SideFilePath(const std::string &tilePath, SideFile kind) {
  return tilePath + std::string(SideFileSuffix(kind));
}

void RemoveSideFiles(const std::string &tilePath) {
  std::remove(SideFilePath(tilePath, SideFile::Crashed).c_str());
  std::remove(SideFilePath(tilePath, SideFile::Invalid).c_str());
}

} // namespace kestrane
