#include "TaskOptions.h"

#include <algorithm>
#include <cctype>

#include "areafile/AreaFromFile.h"
#include "areamap/AreaFields.h"
#include "control/Progress.h"
#include "platform/Errors.h"
#include "platform/NumberFormat.h"
#include "platform/Text.h"

namespace kestrane::cli {

std::optional<int> ParseDirection(std::string_view text) {
  static const char *const kNames[4] = {"north", "east", "south", "west"};
  const std::string lower = AsciiLower(text);
  for (int i = 0; i < 4; ++i)
    if (lower == kNames[i] || lower == std::string(1, char('0' + i)))
      return i;
  return std::nullopt;
}

void AddTaskOptions(CLI::App &app, TaskFields &fields) {
  const auto text = [&app](const char *name, std::string &field,
                           const char *help) {
    app.add_option(name, field, help)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  };
  text("--task", fields.TaskName, "project file name (default newtask.ktsk)");
  text("--path", fields.Path, "output folder (default: the settings' folder)");
  text("--left", fields.Left, "the area's west edge, degrees");
  text("--right", fields.Right, "the area's east edge, degrees");
  text("--top", fields.Top, "the area's north edge, degrees");
  text("--bottom", fields.Bottom, "the area's south edge, degrees");
  static const std::string zoomHelp = "zoom level " + std::to_string(kMinZoom) +
                                      ".." + std::to_string(kMaxZoom) +
                                      " (default 13)";
  text("--zoom", fields.Zoom, zoomHelp.c_str());
  app.add_option_function<std::string>(
         "--dir",
         [&fields](const std::string &d) {
           fields.DirIndex = *ParseDirection(d);
         },
         "North, East, South, West or 0..3 (default North)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
      ->check(CLI::Validator(
          [](std::string &d) {
            return ParseDirection(d) ? std::string()
                                     : "Unknown direction: " + d;
          },
          "DIR"));
  // The four edges from the box around a vector file's features.
  app.add_option_function<std::string>(
         "--area-from",
         [&fields](const std::string &file) {
           try {
             const AreaFieldTexts edges = FieldTextsFor(AreaFromFile(file));
             fields.Left = edges.Left;
             fields.Right = edges.Right;
             fields.Top = edges.Top;
             fields.Bottom = edges.Bottom;
           } catch (const KError &e) {
             throw CLI::ValidationError(e.what());
           }
         },
         "the edges around the features of a GeoJSON, KML or GPX file, "
         "instead of the four edges")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

std::string TaskSummary(const DownloadTask &task, double maxRate) {
  const TaskParameters &p = task.Params;
  const char sep = task.Env.DecimalSeparator;
  const auto deg = [sep](double v) { return FormatGeneral(v, sep); };
  std::string s;
  s += "Total images: " + std::to_string(task.InsideCount) + "\n";
  if (!task.Inside.Everything())
    s += "Tiles of the block: " + std::to_string(task.TotalCount) +
         " (outside the outline: " +
         std::to_string(int64_t{task.TotalCount} - task.InsideCount) + ")\n";
  s += "Tile columns (X): " + std::to_string(task.MinX) + ".." +
       std::to_string(task.MaxX) + "\n";
  s += "Tile rows (Y): " + std::to_string(task.MinY) + ".." +
       std::to_string(task.MaxY) + "\n";
  s += "Block edges: left " + deg(task.LeftLongitudeDownload) + "; right " +
       deg(task.RightLongitudeDownload) + "; top " +
       deg(task.TopLatitudeDownload) + "; bottom " +
       deg(task.BottomLatitudeDownload) + "\n";
  s += "Workers: " + std::to_string(p.ThreadCount) + "\n";
  s += "Project file: " + p.Path + p.TaskFileName + "\n";
  s += "Log file: " + task.LogFilePath + "\n";
  if (p.Dir == 0) {
    const int32_t files = (task.InsideCount - 1) / kTileListChunk + 1;
    s += "Tile lists: " + task.ListFilePath + "1.txt";
    if (files > 1)
      s += " .. " + task.ListFilePath + std::to_string(files) + ".txt";
    s += " (" + std::to_string(files) + (files == 1 ? " file" : " files") +
         ")\n";
  } else {
    s += "Tile lists: none (only tasks looking North get one)\n";
  }
  s += "Failed-tile list: " + task.FailedFilePath + "\n";
  s += "Tile folder: " + task.TileFolder + "\n";
  // The workers' own pacing, as a download of this task runs them.
  s += "Least download time: " +
       FormatDuration(LeastCappedMilliseconds(
           LeastDownloadMilliseconds(task.InsideCount, p.ThreadCount,
                                     WorkerPacing{}),
           task.InsideCount, maxRate)) +
       "\n";
  return s;
}

} // namespace kestrane::cli
