// The paths a task's outputs may not take: the task's own files, and
// anything that is not a regular file.
#include <sys/stat.h>

#include <cstdlib>
#include <utility>

#include "inventory/TaskInventory.h"
#include "platform/Files.h"
#include "platform/OutputChecks.h"
#include "task/AreaOutlineFile.h"

namespace kestrane {

namespace {

// A folder as the file system knows it, whatever path names it.
struct FolderId {
  dev_t Device = 0;
  ino_t Inode = 0;
  bool Known = false;
  bool operator==(const FolderId &o) const {
    return Known && o.Known && Device == o.Device && Inode == o.Inode;
  }
};

FolderId FolderOf(const std::string &path) {
  const std::string folder = ExtractFilePath(path);
  struct stat st;
  if (::stat(folder.empty() ? "." : folder.c_str(), &st) != 0)
    return {};
  return {st.st_dev, st.st_ino, true};
}

// Whether `a` and `b` name one file: the same name in the same folder, or
// one file reached by both (a hard link, a link).
bool SamePlace(const std::string &a, const FolderId &aFolder,
               const std::string &b) {
  if (ExtractFileName(a) == ExtractFileName(b) && aFolder == FolderOf(b))
    return true;
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Whether `name` is one of the task's tile list files, "<base>_list.txt"
// followed by the file's number (1 up to the count of files) and ".txt".
bool IsTileListName(const DownloadTask &task, const std::string &name) {
  const std::string base = ExtractFileName(task.ListFilePath);
  if (name.size() <= base.size() + 4 || name.compare(0, base.size(), base) ||
      name.compare(name.size() - 4, 4, ".txt"))
    return false;
  const std::string number =
      name.substr(base.size(), name.size() - base.size() - 4);
  if (number.empty() || number.size() > 6 || number[0] == '0' ||
      number.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const int64_t files = (int64_t{task.TotalCount} - 1) / kTileListChunk + 1;
  return std::atoll(number.c_str()) <= files;
}

// What of the task's files `output` names, or nullptr.
const char *OwnFileAt(const DownloadTask &task, const std::string &output) {
  const FolderId folder = FolderOf(output);
  const std::string name = ExtractFileName(output);
  const std::pair<std::string, const char *> own[] = {
      {task.Params.Path + task.Params.TaskFileName, "the project file"},
      {task.LogFilePath, "the task's log"},
      {task.FailedFilePath, "the task's failed-tile list"},
      {AreaOutlinePath(task.Params), "the task's area outline"},
      {task.CheckedFilePath, "the task's record of checked tiles"},
  };
  for (const auto &[path, what] : own)
    if (SamePlace(output, folder, path))
      return what;
  if (folder == FolderOf(task.ListFilePath) && IsTileListName(task, name))
    return "a tile list of the task";
  if (!(folder == FolderOf(task.TileFolder)))
    return nullptr;
  switch (
      ParseTileFileName(name, task.Params.Zoom, task.TileExtension()).Kind) {
  case TileNameKind::Tile:
    return "a tile of the task";
  case TileNameKind::Crashed:
  case TileNameKind::Invalid:
    return "a side file of a tile of the task";
  case TileNameKind::Other:
    break;
  }
  return nullptr;
}

} // namespace

void RefuseAsOutput(const DownloadTask &task, const std::string &output) {
  if (const char *what = OwnFileAt(task, output))
    throw KError(ErrorCause::InputRefused,
                 "Cannot create file " + output + ": it is " + what);
  RefuseNonFileOutput(output);
}

} // namespace kestrane
