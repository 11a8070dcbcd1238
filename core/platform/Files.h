#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/FileStamp.h"

namespace kestrane {

// Folder paths end with "/"; file names are made by concatenation.

bool FileExists(const std::string &path); // a regular file (or link to one)
bool DirectoryExists(const std::string &path); // a folder
// Creates one level (the parent must exist). True when it was created.
bool CreateDir(const std::string &path);

// Copies src to dst. With failIfExists an existing dst is left alone and the
// call returns false. The copy lands atomically (temporary file + rename), so
// dst is never half-written. Returns false on any failure.
bool CopyFileTo(const std::string &src, const std::string &dst,
                bool failIfExists);

// A folder held open for the writes below (the tile folder of a task): they
// go into the folder that was there when it was opened, even when its path
// is given to another folder, or to a link, meanwhile. The open does not
// follow a symbolic link at the path's last step (it fails with ELOOP or
// ENOTDIR, errno set); an invalid UniqueFd on any failure.
UniqueFd OpenFolder(const std::string &path);

// CopyFileTo, FileExists and WriteFileAtomicUnsynced for the file `name` of
// the folder open as `dirFd` (AT_FDCWD: the working folder).
bool CopyFileToAt(const std::string &src, int dirFd, const std::string &name,
                  bool failIfExists);
bool FileExistsAt(int dirFd, const std::string &name);

// The largest file of each kind that the program reads: project and settings
// files hold a few hundred bytes, logs and failed-tile lists grow with the
// task. A larger file is refused rather than read into memory.
constexpr size_t kMaxIniFileBytes = size_t{1} << 20;  // 1 MiB
constexpr size_t kMaxListFileBytes = size_t{1} << 28; // 256 MiB

// Every reader below reads only a regular file (a link to one is followed):
// a FIFO, device, socket or folder is refused at once, without waiting for a
// writer, and so is a file larger than `maxBytes`.

// Reads a text file into lines; accepts CR LF, LF and CR; a final line without
// a line end counts; a final line end makes no extra empty line.
// Throws KError("Cannot open file " + path) when the file cannot be read.
std::vector<std::string> ReadLines(const std::string &path,
                                   size_t maxBytes = kMaxListFileBytes);

// Writes every line followed by CR LF, replacing the file atomically (a
// temporary file in the same folder, then rename), so a crash or a full disk
// never leaves a half-written file. Like every writer here, a symbolic link
// standing at `path` is replaced by the new file: its target is never
// written. Throws KError("Cannot create file " +
// path) when it cannot be written; the old file then stays as it was.
void WriteLines(const std::string &path, const std::vector<std::string> &lines);

// Whole-file bytes. ReadFileBytes throws KError("Cannot open file " + path).
std::string ReadFileBytes(const std::string &path,
                          size_t maxBytes = kMaxListFileBytes);
// The same without throwing: nullopt when the file cannot be read. `missing`
// (when given) tells whether nothing is at path at all, as opposed to a file
// that is there but unreadable (a folder, a FIFO, too large, no permission).
std::optional<std::string>
TryReadFileBytes(const std::string &path, bool *missing = nullptr,
                 size_t maxBytes = kMaxListFileBytes);

// Reads up to `size` bytes from `fd` at its position, going on after a
// signal; fewer only at the end of the file or on an error.
size_t ReadUpTo(int fd, void *into, size_t size);

// How ReadBoundedFile ended.
enum class BoundedRead {
  Whole,    // `out` holds every byte the file had when it was opened
  Short,    // a read failed or the file shrank: `out` holds what came
  Missing,  // nothing under that name
  Unopened, // something is there but cannot be opened or examined
  Refused,  // no regular file (a folder, a FIFO), or larger than maxBytes;
            // `out` is left as it was
};
// Reads the file `name` (relative to the folder open as `dirFd`, or to the
// working folder with AT_FDCWD) whole into `out`, which a caller reading
// many files (the tiles of a task) reuses. Memory stays bounded by
// `maxBytes`, and a FIFO under that name is refused without waiting for a
// writer. `openFlags` are added to open()'s: O_NOFOLLOW makes a link under
// that name Unopened. `stamp`, when given, receives the file's stamp as
// it was opened.
BoundedRead ReadBoundedFile(int dirFd, const char *name, size_t maxBytes,
                            std::string &out, int openFlags = 0,
                            FileStamp *stamp = nullptr);

// Atomic like WriteLines. On failure returns false and sets `reason` to the
// system's text (strerror); the old file then stays as it was.
bool WriteFileAtomic(const std::string &path, std::string_view bytes,
                     std::string *reason = nullptr,
                     unsigned newFileMode = kNewFileMode);

// Atomic writes go through an AtomicFile (platform/AtomicFile.h), whose
// temporary files RemoveStaleTemporaries clears after a killed run.

// WriteFileAtomic without waiting for the disk: the tiles of a task are many,
// and waiting for each costs more than fetching it. The rename still makes
// the file whole or absent after a crash of the process; SyncFileSystem
// settles them on the disk in one call before their progress is recorded.
bool WriteFileAtomicUnsynced(const std::string &path, std::string_view bytes,
                             std::string *reason = nullptr);
// `placed`, when given, receives the stamp of the file as it was put in
// place (zero when that could not be told).
bool WriteFileAtomicUnsyncedAt(int dirFd, const std::string &name,
                               std::string_view bytes,
                               std::string *reason = nullptr,
                               FileStamp *placed = nullptr);
// Flushes everything written to the file system that holds `path` (a file or
// folder) to the disk. False when that fails.
bool SyncFileSystem(const std::string &path);

// The folder of the running executable, from /proc/self/exe, ending in "/".
std::string ProgramFolder();

// Path pieces with "/" as separator: folder part with its trailing "/", file
// name part, and the extension rule of task names (the part from the last "."
// after the last "/", "" when there is none).
std::string ExtractFilePath(const std::string &path);
std::string ExtractFileName(const std::string &path);
std::string ExtractFileExt(const std::string &path);
std::string IncludeTrailingDelimiter(const std::string &folder);

} // namespace kestrane
