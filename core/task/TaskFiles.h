#pragma once
// The files of a task on disk: the tile folder, the positions an earlier run
// saved, and the four files a start writes. A DownloadTask only names them;
// Start and `plan` build the task, then come here.
#include "task/DownloadTask.h"

namespace kestrane {

// Makes the task's tile folder when there is none; an existing one and the
// tiles in it are kept. Throws KError(CannotWrite, "Create directory " +
// folder + " Failed.") when it cannot be made, and KError(InputRefused,
// "The tile folder is a symbolic link: " + folder) when a link stands in its
// place: the tiles go only into a folder of the task's own.
void CreateTileFolder(const DownloadTask &task);

// The positions a continued task's project file holds for its worker slots
// (THREADS/T<n>X and T<n>Y, for the first Params.ThreadCount slots); none
// for a fresh task. A pair that is empty, no number, or outside the block
// counts as none. A missing project file holds none.
ResumePositions ReadResumePositions(const DownloadTask &task);

// The task's four files. Each throws KError with the file error on failure.
void WriteProjectFile(const DownloadTask &task); // nothing when continued
void WriteTileList(
    const DownloadTask &task); // nothing when continued or Dir != 0
void WriteLogHeader(const DownloadTask &task); // header, or continuation marker
void CreateFailedFile(
    const DownloadTask &task); // empty, nothing when continued

// The outline file (WriteAreaOutline) and the four, the project file last,
// then the removal of the temporary files
// that a run killed in mid-write left beside the tiles and the task's files.
// Tile lists of more than 1 GB that their disk has no room for are refused
// before any file is written (KError(CannotWrite) naming both sizes).
void WriteTaskFiles(const DownloadTask &task);

// The bytes WriteTileList writes for the task, every list file together; 0
// when it writes none. For a task with an outline, the most it can write:
// the lines of the whole block.
uint64_t TileListBytes(const DownloadTask &task);
// Throws KError(CannotWrite, "Cannot create file <the first list>: it
// needs ..., and the disk has ... free") when the task's tile lists are
// over 1 GB and their disk has less room (CheckRoomFor); Start and `plan`
// ask before the tile folder is made.
void CheckRoomForTileLists(const DownloadTask &task);

} // namespace kestrane
