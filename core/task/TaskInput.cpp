#include "task/TaskInput.h"

#include <algorithm>
#include <cmath>

#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "task/Estimate.h"

namespace kestrane {

std::string TaskFileNameFor(const std::string &typed) {
  if (ExtractFileExt(typed) == ".ktsk")
    return typed;
  return typed + ".ktsk";
}

std::optional<double> ReadCoordinate(std::string text) {
  std::replace(text.begin(), text.end(), ',', '.');
  const std::optional<double> value = StrToFloatStrict(text);
  // "nan" would pass every range check, since it compares false with all.
  if (!value || !std::isfinite(*value))
    return std::nullopt;
  return value;
}

namespace {

TaskInputCheck Refused(std::string message) {
  TaskInputCheck result;
  result.Message = std::move(message);
  return result;
}

// The six range checks; the bounds themselves pass.
std::optional<std::string> RangeMessage(const CheckedTaskInput &in) {
  if (in.LeftLongitude < -180 || in.LeftLongitude > 180)
    return "Left Longitude should be between -180 and 180.";
  if (in.RightLongitude < -180 || in.RightLongitude > 180)
    return "Right Longitude should be between -180 and 180.";
  if (in.TopLatitude < -85 || in.TopLatitude > 85)
    return "Top Latitude should be between -85 and 85.";
  if (in.BottomLatitude < -85 || in.BottomLatitude > 85)
    return "Bottom Latitude should be between -85 and 85.";
  if (in.LeftLongitude > in.RightLongitude)
    return "Left Longitude should less than Right Longitude!";
  if (in.TopLatitude < in.BottomLatitude)
    return "Bottom Latitude should less than Top Latitude!";
  return std::nullopt;
}

// Whether CreateDir could make the folder: its parent exists.
bool CouldCreateDir(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  const std::string parent = ExtractFilePath(path);
  return DirectoryExists(parent.empty() ? "." : parent);
}

// The checks of CheckTaskInput; with createFolder false a missing output
// folder is only looked at: it passes when its parent folder exists, so that
// creating it (one level) can succeed.
TaskInputCheck RunChecks(const TaskFields &fields, bool createFolder) {
  TaskInputCheck result;
  CheckedTaskInput &in = result.Input;

  // The window's spinner keeps the zoom in range; a project file opened
  // into the fields may not.
  const std::optional<int32_t> zoom = StrToIntStrict(fields.Zoom);
  if (!zoom || *zoom < kMinZoom || *zoom > kMaxZoom)
    return Refused("Zoom level should be between " + std::to_string(kMinZoom) +
                   " and " + std::to_string(kMaxZoom) + ".");
  in.Zoom = *zoom;

  if (fields.Path.empty())
    return Refused("Please select a path to save the images.");
  if (!DirectoryExists(fields.Path) &&
      !(createFolder ? CreateDir(fields.Path) : CouldCreateDir(fields.Path)))
    return Refused("Create directory " + fields.Path + " Failed.");
  in.Path = IncludeTrailingDelimiter(fields.Path);

  const std::optional<double> left = ReadCoordinate(fields.Left);
  const std::optional<double> right = ReadCoordinate(fields.Right);
  const std::optional<double> top = ReadCoordinate(fields.Top);
  const std::optional<double> bottom = ReadCoordinate(fields.Bottom);
  if (!left || !right || !top || !bottom)
    return Refused("Longitude or latitude input error!");
  in.LeftLongitude = *left;
  in.RightLongitude = *right;
  in.TopLatitude = *top;
  in.BottomLatitude = *bottom;
  if (std::optional<std::string> message = RangeMessage(in))
    return Refused(std::move(*message));

  // A project file opened into the fields can leave the list without a
  // choice.
  if (fields.DirIndex < 0 || fields.DirIndex > 3)
    return Refused("Please select a direction.");
  in.Dir = fields.DirIndex;

  in.TaskFileName = TaskFileNameFor(fields.TaskName);
  return result;
}

} // namespace

TaskInputCheck CheckTaskInput(const TaskFields &fields) {
  return RunChecks(fields, /*createFolder=*/true);
}

std::string EstimateLine(const TaskFields &fields, double maxRate) {
  // A form on which no edge has been typed yet is not wrong, only empty.
  if (fields.Left.empty() && fields.Right.empty() && fields.Top.empty() &&
      fields.Bottom.empty())
    return "Pick an area with Map... or type its four edges";
  const TaskInputCheck check = RunChecks(fields, /*createFolder=*/false);
  if (!check.Ok())
    return *check.Message;
  const CheckedTaskInput &in = check.Input;
  AreaEstimate e;
  try {
    e = EstimateArea(in.LeftLongitude, in.RightLongitude, in.TopLatitude,
                     in.BottomLatitude, in.Zoom, fields.Area);
  } catch (const KError &refused) {
    return refused.what(); // an outline the tile grid cannot take
  }
  // With an outline, the tiles inside it of the block's.
  const std::string block =
      GroupDigits(e.Columns) + " x " + GroupDigits(e.Rows) +
      (fields.Area.empty() ? "" : " = " + GroupDigits(e.Columns * e.Rows));
  return "Tiles: " + GroupDigits(e.Tiles) +
         (fields.Area.empty() ? "" : " inside the outline") + " (" + block +
         "), at least " +
         FormatDuration(
             LeastCappedMilliseconds(e.LeastMilliseconds, e.Tiles, maxRate),
             DurationStyle::Compact);
}

TaskParameters ParametersFor(const CheckedTaskInput &input,
                             const Settings &settings, bool continueTask) {
  TaskParameters p;
  p.LeftLongitude = input.LeftLongitude;
  p.RightLongitude = input.RightLongitude;
  p.TopLatitude = input.TopLatitude;
  p.BottomLatitude = input.BottomLatitude;
  p.Zoom = input.Zoom;
  p.Dir = input.Dir;
  p.ThreadCount = 8;
  p.ThreadSlots = 8;
  p.MapsType = 21;
  p.Path = input.Path;
  p.TaskFileName = input.TaskFileName;
  p.Proxy = settings.Proxy;
  p.ContinueTask = continueTask;
  return p;
}

} // namespace kestrane
