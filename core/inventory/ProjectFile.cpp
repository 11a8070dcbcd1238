// Reading a task back from its project file.
#include "inventory/ProjectFile.h"

#include <unistd.h>

#include <exception>
#include <utility>

#include "platform/Files.h"
#include "platform/Ini.h"
#include "task/Settings.h"

namespace kestrane {

OpenedTask OpenTaskFile(const std::string &projectFile) {
  const IniSnapshot ini(projectFile);
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
  return f;
}

LoadedTask LoadTask(const std::string &projectFile, TaskEnvironment env) {
  const KError refused("Cannot open file " + projectFile);
  if (!FileExists(projectFile) || !TryReadFileBytes(projectFile))
    throw refused;
  // The fields the window loads from the file, through the checks Start
  // runs: what Start would refuse is not a task's project file either. A
  // file without a direction is refused rather than read as North.
  TaskFields fields;
  try {
    const OpenedTask opened = OpenTaskFile(projectFile);
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

  LoadedTask t;
  t.ProjectFile = projectFile;
  t.Params = std::make_unique<TaskParameters>(
      ParametersFor(check.Input, Settings{}, /*continueTask=*/true));
  TaskParameters &p = *t.Params;
  // The file's own name, whatever its extension.
  p.TaskFileName = fields.TaskName;

  // Building the task makes its tile folder when there is none; looking at
  // a task leaves the disk as it was, so a folder made here goes again.
  const std::string base = p.TaskFileName.substr(
      0, p.TaskFileName.size() - ExtractFileExt(p.TaskFileName).size());
  const std::string tileFolder = p.Path + base + "/";
  const bool hadFolder = DirectoryExists(tileFolder);
  try {
    t.Task = std::make_unique<DownloadTask>(p, std::move(env));
  } catch (const KError &) {
    throw;
  } catch (const std::exception &) {
    throw refused;
  }
  if (!hadFolder)
    ::rmdir(tileFolder.c_str());
  return t;
}

} // namespace kestrane
