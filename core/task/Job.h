#pragma once
// A job: several zooms and directions of one area, one ordinary task each,
// run one after another. `--zoom 16-18` and `--dir all` ask for one; the
// job file (<task>.kjob) lists the tasks' project files so that `resume`
// can continue the job where it stopped.
//
// The job file is text, one entry a line (CR LF, as the program writes
// every text file):
//   kestrane job 1
//   area_z16_N.ktsk
//   area_z16_E.ktsk
// The first line says what the file is; every other line is the name of a
// project file in the job file's own folder (no folder part), in the order
// the tasks run.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "task/DownloadTask.h"
#include "task/TaskInput.h"

namespace kestrane {

// A direction by name (North, East, South, West, in any case) or by its
// index 0..3.
std::optional<int32_t> ParseDirection(std::string_view text);

// The zooms or directions a --zoom or --dir text asks for, ascending and
// each once, or the reason the text is refused.
struct JobList {
  std::vector<int32_t> Values;
  std::string Refusal; // set when the text is refused
  bool Ok() const { return Refusal.empty(); }
};

// Whether a --zoom text asks for several zooms: it holds a ",", or a "-"
// after its first character ("16-18", "14,16-18"). Any other text is one
// zoom, left to the task's own input check.
bool IsZoomList(std::string_view text);
// Items separated by ",", each a zoom or a range "A-B" with A <= B, every
// zoom in kMinZoom..kMaxZoom and none given twice.
JobList ParseZoomList(std::string_view text);

// Whether a --dir text asks for several directions: "all" (any case) or a
// text holding a ",".
bool IsDirectionList(std::string_view text);
// "all", or directions as ParseDirection reads them separated by ",", none
// given twice; the values in the order North, East, South, West.
JobList ParseDirectionList(std::string_view text);

// The tasks of a job, zoom ascending, then North, East, South, West: the
// fields of each are `fields` with the zoom, the direction and the task
// name "<name>_z<zoom>_<N|E|S|W>.ktsk" (<name>: the typed name without
// ".ktsk"). An empty `zooms` keeps the zoom text of `fields` (and names
// the task with it); an empty `dirs` keeps its direction.
std::vector<TaskFields> JobTasks(const TaskFields &fields,
                                 const std::vector<int32_t> &zooms,
                                 const std::vector<int32_t> &dirs);

inline constexpr char kJobFileExt[] = ".kjob";
// The job file's name for a typed task name: "<name>.kjob".
std::string JobFileNameFor(const std::string &typedTaskName);

inline constexpr char kJobFileHeader[] = "kestrane job 1";
// The most a job file holds: a task for every zoom and direction, and the
// bytes of that many long names.
inline constexpr size_t kMaxJobTasks = 4 * (kMaxZoom - kMinZoom + 1);
inline constexpr size_t kMaxJobFileBytes = size_t{64} << 10;

// Writes the job file at `path` (atomically, replacing one that is there):
// the header, then the file name of each project file, which must lie in
// the job file's folder. Throws KError("Cannot create file " + path).
void WriteJobFile(const std::string &path,
                  const std::vector<std::string> &projectFiles);

// The project files a job file lists, each as the job file's folder plus
// its name. A file that cannot be read throws KError(CannotOpen, "Cannot
// open file " + path); one that is not a job file, lists no task or more
// than kMaxJobTasks, a file outside its folder, a file twice or a project
// file that is not there throws KError(InvalidFile) with a text that names
// the job file (and the entry).
std::vector<std::string> ReadJobFile(const std::string &path);

} // namespace kestrane
