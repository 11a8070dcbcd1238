// Reading a task back from its project file.
#include "inventory/ProjectFile.h"

#include <exception>
#include <utility>

#include "platform/Files.h"
#include "platform/Ini.h"
#include "task/AreaOutlineFile.h"
#include "task/Settings.h"

namespace kestrane {
namespace {

OpenedTask OpenedTaskOf(const std::string &projectFile,
                        const IniSnapshot &ini) {
  OpenedTask t;
  t.Left = ini.ReadString("AREA", "LeftLongitude", "");
  t.Right = ini.ReadString("AREA", "RightLongitude", "");
  t.Top = ini.ReadString("AREA", "TopLatitude", "");
  t.Bottom = ini.ReadString("AREA", "BottomLatitude", "");
  t.Path = ExtractFilePath(projectFile);
  t.TaskName = ExtractFileName(projectFile);
  t.Zoom = ini.ReadInteger("Zoom", "Zoom", 0);
  t.Dir = ini.ReadInteger("Dir", "Dir", 0);
  // A value that is no number reads as either default.
  t.DirGiven = t.Dir == ini.ReadInteger("Dir", "Dir", -1);
  return t;
}

} // namespace

OpenedTask OpenTaskFile(const std::string &projectFile) {
  OpenedTask t = OpenedTaskOf(projectFile, IniSnapshot(projectFile));
  TaskParameters names;
  names.Path = t.Path;
  names.TaskFileName = t.TaskName;
  t.Area = ReadAreaOutline(AreaOutlinePath(names));
  return t;
}

TaskFields OpenedTask::Fields() const {
  TaskFields f;
  f.TaskName = TaskName;
  f.Left = Left;
  f.Right = Right;
  f.Top = Top;
  f.Bottom = Bottom;
  f.Zoom = std::to_string(Zoom);
  f.DirIndex = Dir;
  f.Path = Path;
  f.Area = Area;
  return f;
}

LoadedTask LoadTask(const std::string &projectFile, TaskEnvironment env) {
  const std::string text = "Cannot open file " + projectFile;
  if (!FileExists(projectFile))
    throw KError(ErrorCause::CannotOpen, text);
  const KError refused(ErrorCause::InvalidFile, text);
  // The fields the window loads from the file, read once, through the
  // checks Start runs: what Start would refuse is not a task's project file
  // either. A file without a direction is refused rather than read as
  // North.
  TaskFields fields;
  try {
    const OpenedTask opened =
        OpenedTaskOf(projectFile, IniSnapshot(projectFile));
    fields = opened.Fields();
    if (!opened.DirGiven)
      fields.DirIndex = -1;
  } catch (const KError &) {
    throw refused;
  }
  if (fields.Path.empty())
    fields.Path = "./";
  const TaskInputCheck check = CheckTaskInput(fields);
  if (!check.Ok())
    throw refused;

  TaskParameters p =
      ParametersFor(check.Input, Settings{}, /*continueTask=*/true);
  // The file's own name, whatever its extension.
  p.TaskFileName = fields.TaskName;
  // The outline beside it, when there is one; one that cannot be read
  // refuses the task with its own error, which names the outline file.
  p.Area = ReadAreaOutline(AreaOutlinePath(p));
  try {
    return LoadedTask{DownloadTask(std::move(p), std::move(env)), projectFile};
  } catch (const KError &) {
    throw;
  } catch (const std::exception &) {
    throw refused;
  }
}

} // namespace kestrane
