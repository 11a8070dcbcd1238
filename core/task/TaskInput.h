#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "task/DownloadTask.h"
#include "task/Settings.h"

namespace kestrane {

// The task fields of the main window as the user typed them (and as the
// command line's options give them).
struct TaskFields {
  std::string TaskName = "newtask.ktsk";
  std::string Left, Right, Top, Bottom; // degrees, "," or "." as the point
  std::string Zoom = "13";
  int DirIndex = 0; // 0 North, 1 East, 2 South, 3 West
  std::string Path; // output folder, with or without the trailing "/"
  // The polygons the tiles are wanted inside (TaskParameters::Area); empty:
  // the rectangle of the four edges.
  Outline Area;
};

// The project file name for a typed task name: ".ktsk" is appended unless
// the extension (from the last "." after the last "/" or ":") is exactly
// ".ktsk", compared case-sensitively: "mytask.KTSK" becomes
// "mytask.KTSK.ktsk".
std::string TaskFileNameFor(const std::string &typed);

// A coordinate text read as degrees: every "," becomes ".", then the whole
// text must be one decimal number, whatever the locale. Empty texts, other
// characters, and values that are not finite give nullopt.
std::optional<double> ReadCoordinate(std::string text);

// The fields after every check has passed.
struct CheckedTaskInput {
  std::string Path;         // the output folder, existing, ends with "/"
  std::string TaskFileName; // TaskFileNameFor(TaskName)
  double LeftLongitude = 0, RightLongitude = 0, TopLatitude = 0,
         BottomLatitude = 0;
  int32_t Zoom = 13;
  int32_t Dir = 0;
};

// The first failing check's message, or the checked values.
struct TaskInputCheck {
  std::optional<std::string> Message; // set when a check failed
  CheckedTaskInput Input;             // filled when Message is empty
  bool Ok() const { return !Message.has_value(); }
};

// Runs the input checks of Start in their fixed order and stops at the
// first that fails, whose message text is returned:
//  1. the zoom text must be a whole number in kMinZoom..kMaxZoom;
//  2. the path must not be empty;
//  3. a missing output folder is created (one level), or the check fails;
//     the folder stays even when a later check fails;
//  4. "/" is appended to the path when missing;
//  5. the four coordinates must read as numbers (ReadCoordinate);
//  6. the six range checks (left, right, top, bottom, left <= right,
//     bottom <= top);
//  7. the direction must be one of the four;
//  8. the task name becomes TaskFileName.
// The task preparation of Start and `plan` (PrepareTask) runs this first;
// afterwards it has the front end decide whether the task continues an
// earlier run (Start compares the texts as typed in `fields`), fills the
// parameters with ParametersFor, builds the task and makes its tile folder;
// the caller then writes the task's files.
TaskInputCheck CheckTaskInput(const TaskFields &fields);

// The main window's live estimate of the fields as typed, one short line:
// "Tiles: " + count + " (" + columns + " x " + rows + "), at least " +
// time, with the figures of EstimateArea (counts grouped, the time in the
// compact style, at the service's pace, and no shorter than the tiles at
// `maxRate` a second, the settings' cap; 0: none), or the message of the
// first check of CheckTaskInput that fails. While none of the four edges
// has been typed it says how to begin instead: "Pick an area with Map... or
// type its four edges". Creates nothing: a missing output folder passes
// when its parent exists (Start would create it then).
std::string EstimateLine(const TaskFields &fields, double maxRate = 0);

// The parameters of a task from checked input and the settings' proxy:
// ThreadCount and ThreadSlots 8, MapsType 21.
TaskParameters ParametersFor(const CheckedTaskInput &input,
                             const Settings &settings, bool continueTask);

} // namespace kestrane
