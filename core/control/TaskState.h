#pragma once
#include <string>

namespace kestrane {

// Whether a task runs: the Start/Stop button's state. Idle (the button
// reads "Start") until Start has started workers, Running ("Stop") until
// the end of the task has been written down.
enum class TaskState { Idle, Running };

// The button's caption for a state: "Start" or "Stop".
inline std::string CaptionFor(TaskState state) {
  return state == TaskState::Idle ? "Start" : "Stop";
}

} // namespace kestrane
