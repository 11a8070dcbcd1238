#include "tile/SideFiles.h"

#include <fcntl.h>
#include <unistd.h>

namespace kestrane {

std::string_view SideFileSuffix(SideFile kind) {
  return kind == SideFile::Crashed ? kCrashedSuffix : kInvalidSuffix;
}

std::string SideFilePath(const std::string &tilePath, SideFile kind) {
  return tilePath + std::string(SideFileSuffix(kind));
}

void RemoveSideFiles(int folderFd, const std::string &tileName) {
  for (const SideFile kind : {SideFile::Crashed, SideFile::Invalid})
    ::unlinkat(folderFd, SideFilePath(tileName, kind).c_str(), 0);
}

} // namespace kestrane
