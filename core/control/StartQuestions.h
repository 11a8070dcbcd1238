#pragma once
// What Start asks before it begins a task: whether to give up the saved
// positions of an earlier run that the fields would not continue (and what
// differs), and whether to begin a download that takes more than an hour.
// The window asks them in its message boxes; the command line prints the
// first as its refusal.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "task/TaskInput.h"

namespace kestrane {

// One field whose text differs from what the project file holds.
struct FieldDifference {
  std::string Field; // the field's label: "Top Latitude"
  std::string Typed; // as the fields hold it now
  std::string Saved; // as the project file holds it
  bool operator==(const FieldDifference &) const = default;
};

// The fields as typed against the project file at `projectFile`, in the
// order of the continue rule: task name, folder, the four edges (as texts),
// zoom, direction and the map type (21). A missing key reads as the rule
// reads it (empty text, zoom 100, direction 0, map type 100). `zoom` and
// `dir` are the checked values of the fields.
std::vector<FieldDifference> DifferingFields(const std::string &projectFile,
                                             const TaskFields &fields,
                                             int32_t zoom, int32_t dir);

// The continue rule: the project file exists and no field differs.
bool ContinuesEarlierRun(const std::string &projectFile,
                         const TaskFields &fields, int32_t zoom, int32_t dir);

// Whether the project file's "THREADS" section holds a saved position of
// any of the first `slots` worker slots.
bool HoldsPositions(const std::string &projectFile, int32_t slots);

// The restart question's answers, in the order offered.
enum class RestartAnswer : size_t {
  ContinueSaved, // the saved task's values go back into the fields
  StartAfresh,   // the saved positions are lost
  Cancel,        // nothing changes
};
// Their button texts, indexed by RestartAnswer.
const std::vector<std::string> &RestartAnswerTexts();

// The question when the project file holds saved positions that the fields
// would not continue: names the file and every differing field with both
// values, one a line, and offers the three answers.
std::string RestartQuestion(const std::string &projectFile,
                            const std::vector<FieldDifference> &differences);

// Downloads whose least time (at the service's pace) is over this are asked
// about before they begin.
inline constexpr int64_t kLongTaskMilliseconds = 3600 * 1000;

// The question before a long task: its tile count and its least download
// time; nullopt when the time is within kLongTaskMilliseconds.
std::optional<std::string> LongTaskQuestion(int64_t tiles,
                                            int64_t leastMilliseconds);

} // namespace kestrane
