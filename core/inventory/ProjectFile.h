#pragma once
// The fields a project file gives back: one reading for "Open task ...",
// `open`, `resume` and for looking at a task's tiles.
#include <cstdint>
#include <string>

#include "task/DownloadTask.h"
#include "task/TaskInput.h"

namespace kestrane {

// "Open task ...": the field texts a project file loads into the window.
struct OpenedTask {
  std::string Left, Right, Top, Bottom; // AREA keys as text
  std::string Path;                     // folder of the file, ending "/"
  std::string TaskName;                 // file name with its extension
  int32_t Zoom = 0;                     // Zoom/Zoom, 0 when missing
  int32_t Dir = 0; // Dir/Dir, 0 when missing; outside 0..3 selects nothing
  // Whether Dir/Dir holds a number (else Dir is the 0 put in its place).
  bool DirGiven = false;
  // The outline beside the project file; empty when there is none.
  Outline Area;

  // The direction list's choice for Dir: Dir when it is one of the four
  // (0 North .. 3 West), else -1 (nothing chosen).
  int32_t DirChoice() const { return Dir >= 0 && Dir <= 3 ? Dir : -1; }

  // The fields as the window holds them once loaded: pressing Start on them
  // continues the task when the continue rule holds.
  TaskFields Fields() const;
};
// Throws KError("Cannot open file " + path) when the file is not a regular
// file of at most 1 MiB, and the outline reader's error, which names the
// outline file, when the one beside it cannot be read.
OpenedTask OpenTaskFile(const std::string &projectFile);

// A task read back from its project file, for looking at its tiles.
struct LoadedTask {
  DownloadTask Task;
  std::string ProjectFile;
};

// Reads a project file once and builds its task with `env` (hosts for the
// URLs). Looking at a task leaves the disk as it was: no folder is made,
// and the saved positions are not read (the task resumes nowhere). Throws
// KError("Cannot open file " + path) when the file cannot be read or is not
// a project file.
LoadedTask LoadTask(const std::string &projectFile, TaskEnvironment env = {});

} // namespace kestrane
