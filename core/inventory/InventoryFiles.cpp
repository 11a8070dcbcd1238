// The files the inventory writes beside a task: the list of the tiles it
// still lacks; and its counts as text.
#include <unistd.h>

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

void WriteMissingList(const DownloadTask &task, const TaskInventory &inventory,
                      const std::string &listPath) {
  RefuseAsOutput(task, listPath);
  // A run killed while it wrote a list left its temporary file beside it.
  RemoveStaleTemporaries(ExtractFilePath(listPath));
  // Streamed through the temporary file: the list of a large block never
  // sits in memory as text.
  const KError failed(ErrorCause::CannotWrite,
                      "Cannot create file " + listPath);
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
  // Whatever came to stand at the list's path meanwhile is still not
  // replaced.
  RefuseNonFileOutput(listPath);
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
