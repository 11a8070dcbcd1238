#include "tile/SideFiles.h"

#include <cstdio>
#include <dirent.h>
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

namespace {

bool EndsWith(std::string_view name, std::string_view suffix) {
  return name.size() > suffix.size() &&
         name.substr(name.size() - suffix.size()) == suffix;
}

} // namespace

void SideFileRemover::RemoveFor(int folderFd, const std::string &tilePath) {
  const size_t slash = tilePath.rfind('/');
  const std::string folderPath =
      slash == std::string::npos ? "." : tilePath.substr(0, slash + 1);
  const std::string name =
      slash == std::string::npos ? tilePath : tilePath.substr(slash + 1);
  const auto [it, fresh] = folders_.try_emplace(folderPath);
  Folder &folder = it->second;
  if (fresh) {
    // fdopendir takes its descriptor over: a copy of the caller's.
    const int copy = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    if (DIR *dir = copy < 0 ? nullptr : ::fdopendir(copy)) {
      ::rewinddir(dir);
      folder.Read = true;
      while (const dirent *entry = ::readdir(dir)) {
        const std::string_view entryName = entry->d_name;
        if (EndsWith(entryName, kCrashedSuffix) ||
            EndsWith(entryName, kInvalidSuffix))
          folder.Names.emplace(entryName);
      }
      ::closedir(dir);
    } else if (copy >= 0) {
      ::close(copy);
    }
  }
  if (!folder.Read) {
    RemoveSideFiles(folderFd, name);
    return;
  }
  for (const SideFile kind : {SideFile::Crashed, SideFile::Invalid}) {
    const auto side =
        folder.Names.find(name + std::string(SideFileSuffix(kind)));
    if (side == folder.Names.end())
      continue;
    ::unlinkat(folderFd, side->c_str(), 0);
    folder.Names.erase(side);
  }
}

} // namespace kestrane
