#include "tile/SideFiles.h"

#include <cstdio>
#include <dirent.h>

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

namespace {

bool EndsWith(std::string_view name, std::string_view suffix) {
  return name.size() > suffix.size() &&
         name.substr(name.size() - suffix.size()) == suffix;
}

} // namespace

void SideFileRemover::RemoveFor(const std::string &tilePath) {
  const size_t slash = tilePath.rfind('/');
  const std::string folderPath =
      slash == std::string::npos ? "." : tilePath.substr(0, slash + 1);
  const auto [it, fresh] = folders_.try_emplace(folderPath);
  Folder &folder = it->second;
  if (fresh) {
    if (DIR *dir = ::opendir(folderPath.c_str())) {
      folder.Read = true;
      while (const dirent *entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (EndsWith(name, kCrashedSuffix) || EndsWith(name, kInvalidSuffix))
          folder.Names.emplace(name);
      }
      ::closedir(dir);
    }
  }
  if (!folder.Read) {
    RemoveSideFiles(tilePath);
    return;
  }
  const std::string name =
      slash == std::string::npos ? tilePath : tilePath.substr(slash + 1);
  for (const SideFile kind : {SideFile::Crashed, SideFile::Invalid}) {
    const auto side =
        folder.Names.find(name + std::string(SideFileSuffix(kind)));
    if (side == folder.Names.end())
      continue;
    std::remove(SideFilePath(tilePath, kind).c_str());
    folder.Names.erase(side);
  }
}

} // namespace kestrane
