// The files the inventory writes beside a task: the list of the tiles it
// still lacks; and its counts as text.
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "inventory/TaskInventory.h"
#include "platform/AtomicFile.h"
#include "platform/Files.h"
#include "platform/OutputChecks.h"

namespace kestrane {

std::string MissingListPath(const std::string &projectFile) {
  const std::string ext = ExtractFileExt(projectFile);
  return projectFile.substr(0, projectFile.size() - ext.size()) +
         "_missing.ftl";
}

uint64_t MissingListBytes(const DownloadTask &task, int64_t tiles) {
  // The longest record: the names' numbers are longest at the block's
  // corners, and the hosts of the four shards may differ in length.
  size_t longest = 0;
  for (const int32_t x : {task.MinX, task.MaxX})
    for (int32_t y = task.MinY; y <= std::min(task.MaxY, task.MinY + 3); ++y)
      longest = std::max(longest, task.TileUrl(x, y).size());
  size_t path = 0;
  for (const int32_t x : {task.MinX, task.MaxX})
    for (const int32_t y : {task.MinY, task.MaxY})
      path = std::max(path, task.TilePath(x, y).size());
  return static_cast<uint64_t>(std::max<int64_t>(tiles, 0)) *
         (path + 1 + longest + 2);
}

bool WriteMissingList(const DownloadTask &task, int64_t notStored,
                      const ProblemWalk &walk, const std::string &listPath,
                      const StopFlag *cancel) {
  RefuseAsOutput(task, listPath);
  // A run killed while it wrote a list left its temporary file beside it.
  RemoveStaleTemporaries(ExtractFilePath(listPath));
  CheckRoomFor(listPath, MissingListBytes(task, notStored));
  // Streamed through the temporary file: the list of a large block never
  // sits in memory as text.
  const KError failed(ErrorCause::CannotWrite,
                      "Cannot create file " + listPath);
  AtomicFile out(listPath);
  if (!out.Valid())
    throw failed;
  std::string chunk;
  bool stopped = false;
  const auto flush = [&] {
    if (out.Write(chunk) != 0)
      throw failed;
    chunk.clear();
  };
  const bool walked = walk([&](const InventoryTile &t) {
    if (t.State == TileState::Stored || stopped)
      return; // listed for its side file only
    chunk += task.TilePath(t.X, t.Y);
    chunk += '|';
    chunk += task.TileUrl(t.X, t.Y);
    chunk += "\r\n";
    if (chunk.size() >= 1 << 16) {
      flush();
      stopped = cancel != nullptr && cancel->Requested();
    }
  });
  if (!walked || stopped || (cancel != nullptr && cancel->Requested()))
    return false; // the temporary file goes with `out`
  flush();
  // Whatever came to stand at the list's path meanwhile is still not
  // replaced.
  RefuseNonFileOutput(listPath);
  if (out.Commit() != 0)
    throw failed;
  return true;
}

void WriteMissingList(const DownloadTask &task, const TaskInventory &inventory,
                      const std::string &listPath) {
  const int64_t notStored = std::count_if(
      inventory.Problems.begin(), inventory.Problems.end(),
      [](const InventoryTile &t) { return t.State != TileState::Stored; });
  WriteMissingList(
      task, notStored,
      [&inventory](const ProblemVisitor &visit) {
        for (const InventoryTile &t : inventory.Problems)
          visit(t);
        return true;
      },
      listPath);
}

} // namespace kestrane

namespace kestrane {

std::vector<std::string> InventorySummaryLines(const InventoryCounts &c) {
  std::vector<std::string> lines = {"Tiles in the block: " +
                                    std::to_string(c.Total + c.Outside)};
  if (c.Outlined)
    lines.push_back("Outside the outline: " + std::to_string(c.Outside));
  lines.insert(lines.end(), {"Stored: " + std::to_string(c.Stored),
                             "Placeholders: " + std::to_string(c.Placeholder),
                             "Damaged: " + std::to_string(c.Damaged),
                             "Missing: " + std::to_string(c.Missing),
                             "Side files: " + std::to_string(c.SideFiles)});
  return lines;
}

std::string InventorySummaryLine(const InventoryCounts &c) {
  return std::to_string(c.Stored) + " of " + std::to_string(c.Total) +
         " tiles stored, " + std::to_string(c.Placeholder) + " placeholders, " +
         std::to_string(c.Damaged) + " damaged, " + std::to_string(c.Missing) +
         " missing, " + std::to_string(c.SideFiles) + " side files" +
         (c.Outlined ? ", " + std::to_string(c.Outside) + " outside the outline"
                     : std::string());
}

} // namespace kestrane
