// Reading a task back from its project file, and writing the list of the
// tiles it still lacks.
#include <unistd.h>

#include <optional>

#include "inventory/ProjectFile.h"
#include "inventory/TaskInventory.h"
#include "platform/AtomicFile.h"
#include "platform/Files.h"
#include "platform/Ini.h"
#include "task/TaskInput.h"

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

std::string MissingListPath(const std::string &projectFile) {
  const std::string ext = ExtractFileExt(projectFile);
  return projectFile.substr(0, projectFile.size() - ext.size()) +
         "_missing.ftl";
}

void WriteMissingList(const DownloadTask &task, const TaskInventory &inventory,
                      const std::string &listPath) {
  // A run killed while it wrote a list left its temporary file beside it.
  RemoveStaleTemporaries(ExtractFilePath(listPath));
  // Streamed through the temporary file: the list of a large block never
  // sits in memory as text.
  const KError failed("Cannot create file " + listPath);
  AtomicFile out(listPath);
  if (!out.Valid())
    throw failed;
  std::string chunk;
  const auto flush = [&] {
    if (out.Write(chunk) != 0)
      throw failed;
    chunk.clear();
  };
  for (const InventoryTile &t : inventory.Problems) {
    if (t.State == TileState::Stored)
      continue; // listed for its side file only
    chunk += task.TilePath(t.X, t.Y);
    chunk += '|';
    chunk += task.TileUrl(t.X, t.Y);
    chunk += "\r\n";
    if (chunk.size() >= 1 << 16)
      flush();
  }
  flush();
  if (out.Commit() != 0)
    throw failed;
}

} // namespace kestrane

namespace kestrane {

std::vector<std::string> InventorySummaryLines(const InventoryCounts &c) {
  return {"Tiles in the block: " + std::to_string(c.Total),
          "Stored: " + std::to_string(c.Stored),
          "Placeholders: " + std::to_string(c.Placeholder),
          "Damaged: " + std::to_string(c.Damaged),
          "Missing: " + std::to_string(c.Missing),
          "Side files: " + std::to_string(c.SideFiles)};
}

std::string InventorySummaryLine(const InventoryCounts &c) {
  return std::to_string(c.Stored) + " of " + std::to_string(c.Total) +
         " tiles stored, " + std::to_string(c.Placeholder) + " placeholders, " +
         std::to_string(c.Damaged) + " damaged, " + std::to_string(c.Missing) +
         " missing, " + std::to_string(c.SideFiles) + " side files";
}

} // namespace kestrane
