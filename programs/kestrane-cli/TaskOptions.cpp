#include "TaskOptions.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>

#include "areafile/AreaFromFile.h"
#include "areamap/AreaFields.h"
#include "control/Progress.h"
#include "platform/Errors.h"
#include "platform/NumberFormat.h"
#include "platform/Text.h"
#include "task/Job.h"

namespace kestrane::cli {

namespace {

// --zoom: one zoom text goes to the fields unchecked (the task's input
// check reads it), a list into the job.
void AddZoomOption(CLI::App &app, TaskFields &fields, JobChoice &job) {
  static const std::string zoomHelp =
      "zoom level " + std::to_string(kMinZoom) + ".." +
      std::to_string(kMaxZoom) +
      " (default 13); several (\"16-18\", \"14,16\") make a job";
  app.add_option_function<std::string>(
         "--zoom",
         [&fields, &job](const std::string &z) {
           job.Zooms.clear();
           if (IsZoomList(z))
             job.Zooms = ParseZoomList(z).Values;
           else
             fields.Zoom = z;
         },
         zoomHelp)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
      ->check(CLI::Validator(
          [](std::string &z) {
            return IsZoomList(z) ? ParseZoomList(z).Refusal : std::string();
          },
          "ZOOM"));
}

void AddDirectionOption(CLI::App &app, TaskFields &fields, JobChoice &job) {
  app.add_option_function<std::string>(
         "--dir",
         [&fields, &job](const std::string &d) {
           job.Dirs.clear();
           if (IsDirectionList(d))
             job.Dirs = ParseDirectionList(d).Values;
           else
             fields.DirIndex = *ParseDirection(d);
         },
         "North, East, South, West or 0..3 (default North); several "
         "(\"all\", \"North,East\") make a job")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
      ->check(CLI::Validator(
          [](std::string &d) {
            if (IsDirectionList(d))
              return ParseDirectionList(d).Refusal;
            return ParseDirection(d) ? std::string()
                                     : "Unknown direction: " + d;
          },
          "DIR"));
}

} // namespace

void AddTaskOptions(CLI::App &app, TaskFields &fields, JobChoice &job) {
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
  AddZoomOption(app, fields, job);
  AddDirectionOption(app, fields, job);
  // --corridor is defined first: CLI11 runs the options' callbacks in the
  // order they were added, so its width is known when --area-from reads.
  auto corridor = std::make_shared<std::optional<double>>();
  CLI::Option *corridorOption =
      app.add_option_function<std::string>(
             "--corridor",
             [corridor](const std::string &m) {
               *corridor = ReadCorridorMetres(m);
             },
             "with --area-from: the area within METRES of the file's lines "
             "and tracks (a corridor), besides its polygons")
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
          ->check(CLI::Validator(
              [](std::string &m) {
                try {
                  ReadCorridorMetres(m);
                  return std::string();
                } catch (const KError &e) {
                  return std::string(e.what());
                }
              },
              "METRES"));
  // The four edges from the box around a vector file's features, and the
  // polygons inside it as the area.
  CLI::Option *areaOption =
      app.add_option_function<std::string>(
             "--area-from",
             [&fields, corridor](const std::string &file) {
               try {
                 FileArea area = AreaOutlineFromFile(file, *corridor);
                 const AreaFieldTexts edges = FieldTextsFor(area.Box);
                 fields.Left = edges.Left;
                 fields.Right = edges.Right;
                 fields.Top = edges.Top;
                 fields.Bottom = edges.Bottom;
                 fields.Area = std::move(area.Area);
               } catch (const KError &e) {
                 throw CLI::ValidationError(e.what());
               }
             },
             "the area of a GeoJSON, KML or GPX file: its polygons, within "
             "the edges around its features, instead of the four edges")
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  corridorOption->needs(areaOption);
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
