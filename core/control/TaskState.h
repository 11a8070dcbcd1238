#pragma once
#include <string>

namespace kestrane {

// Whether a task runs: the Start/Stop button's state. Idle (the button
// reads "Start") until Start has started workers, Running ("Stop") until
// the end of the task has been written down. A large task passes through
// Preparing while its files are written: the button still reads "Start"
// and takes no click.
enum class TaskState { Idle, Preparing, Running };

// The button's caption for a state: "Start" or "Stop".
inline std::string CaptionFor(TaskState state) {
  return state == TaskState::Running ? "Stop" : "Start";
}

} // namespace kestrane
