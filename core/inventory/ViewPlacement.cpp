#include "inventory/TaskInventory.h"

namespace kestrane {

TileBlock TileBlockOf(const DownloadTask &task) {
  return {task.MinX, task.MinY, task.MaxX, task.MaxY, task.Params.Dir};
}

ViewCell ViewPlacement(const DownloadTask &task, int32_t x, int32_t y) {
  const TileNameNumbers n = NameNumbersOf(TileBlockOf(task), x, y);
  return {n.A - task.ViewMinX, int64_t{task.ViewMaxY} - n.B};
}

} // namespace kestrane
