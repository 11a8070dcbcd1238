#include "cli/TaskOptions.h"

#include <algorithm>
#include <cctype>

#include "areamap/AreaFields.h"
#include "areamap/AreaFromFile.h"
#include "platform/Errors.h"
#include "platform/NumberFormat.h"

namespace kestrane::cli {

const char kTaskOptionsHelp[] =
    "  --task NAME       project file name (default newtask.ktsk)\n"
    "  --path FOLDER     output folder (default: the settings' folder)\n"
    "  --left X --right X --top Y --bottom Y   the area's edges, degrees\n"
    "  --area-from FILE  the edges around the features of a GeoJSON, KML or\n"
    "                    GPX file instead\n"
    "  --zoom Z          zoom level 1..21 (default 13)\n"
    "  --dir D           North, East, South, West or 0..3 (default North)\n"
    "  Each option also as --opt=value.\n";

namespace {

std::string Lower(std::string_view text) {
  std::string s(text);
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  return s;
}

std::string *FieldFor(const std::string &name, TaskFields &fields,
                      std::string &dirText) {
  if (name == "task")
    return &fields.TaskName;
  if (name == "path")
    return &fields.Path;
  if (name == "left")
    return &fields.Left;
  if (name == "right")
    return &fields.Right;
  if (name == "top")
    return &fields.Top;
  if (name == "bottom")
    return &fields.Bottom;
  if (name == "zoom")
    return &fields.Zoom;
  if (name == "dir" || name == "area-from")
    return &dirText;
  return nullptr;
}

} // namespace

std::optional<int> ParseDirection(std::string_view text) {
  static const char *const kNames[4] = {"north", "east", "south", "west"};
  const std::string lower = Lower(text);
  for (int i = 0; i < 4; ++i)
    if (lower == kNames[i] || lower == std::string(1, char('0' + i)))
      return i;
  return std::nullopt;
}

bool ParseTaskOptions(const Args &args, TaskFields &fields,
                      std::string &error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg.rfind("--", 0) != 0) {
      error = "Unexpected argument: " + arg;
      return false;
    }
    std::string name = arg.substr(2);
    std::optional<std::string> value;
    if (const size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    std::string dirText;
    std::string *field = FieldFor(name, fields, dirText);
    if (field == nullptr) {
      error = "Unknown option: " + arg;
      return false;
    }
    if (!value) {
      if (i + 1 >= args.size()) {
        error = "Missing value for --" + name;
        return false;
      }
      value = args[++i];
    }
    *field = *value;
    if (name == "area-from") {
      try {
        const AreaFieldTexts edges = FieldTextsFor(AreaFromFile(*value));
        fields.Left = edges.Left;
        fields.Right = edges.Right;
        fields.Top = edges.Top;
        fields.Bottom = edges.Bottom;
      } catch (const KError &e) {
        error = e.what();
        return false;
      }
    } else if (field == &dirText) {
      const std::optional<int> dir = ParseDirection(dirText);
      if (!dir) {
        error = "Unknown direction: " + dirText;
        return false;
      }
      fields.DirIndex = *dir;
    }
  }
  return true;
}

std::string TaskSummary(const MDTask &task) {
  const TaskParameters &p = task.Params;
  const char sep = task.Env.DecimalSeparator;
  const auto deg = [sep](double v) { return FormatGeneral(v, sep); };
  std::string s;
  s += "Total images: " + std::to_string(task.TotalCount) + "\n";
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
    const int32_t files = (task.TotalCount - 1) / kTileListChunk + 1;
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
  s += "Least download time: " +
       FormatDuration(
           LeastDownloadMilliseconds(task.TotalCount, p.ThreadCount)) +
       "\n";
  return s;
}

} // namespace kestrane::cli
