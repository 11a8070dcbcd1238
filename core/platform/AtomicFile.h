#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/FileStamp.h"
#include "platform/UniqueFd.h"

namespace kestrane {

// The permissions a file gets when an atomic write creates it (the umask
// still applies); a replaced file keeps its own.
constexpr unsigned kNewFileMode = 0666;
constexpr unsigned kPrivateFileMode = 0600; // files that hold a password

// The one way this program replaces a file: the new content goes into a
// temporary file in the target's folder, which then takes the target's
// place in one rename, so a reader or a crash of the process sees either
// the old file or the complete new one. Every write of a whole file goes
// through it: the settings, the project file, the logs and lists, the
// tiles, the audit's list of missing tiles and the joiner's picture.
//
// The temporary file is named ".kestrane-tmp-<process id>-<counter>.part":
// a name no user file has by chance, and the writer's process id tells
// whether the writer still runs. It is created exclusively (an existing
// file or link of that name is never opened) and removed again unless the
// write is committed; a process killed in mid-write leaves it for
// RemoveStaleTemporaries.
class AtomicFile {
public:
  // Creates the temporary file for `target` (a path that does not end in
  // "/"). Valid() tells whether that worked, Error() why not.
  explicit AtomicFile(std::string target, unsigned newFileMode = kNewFileMode);
  // The same for the file `target` of the folder held open as `dirFd`
  // (AT_FDCWD: the working folder): the temporary file, and the file it
  // becomes, stay in that folder even when its path is given to another
  // folder meanwhile. TempPath() and Target() are then relative to it.
  AtomicFile(int dirFd, std::string target,
             unsigned newFileMode = kNewFileMode);
  // Removes the temporary file unless it was committed.
  ~AtomicFile();
  AtomicFile(const AtomicFile &) = delete;
  AtomicFile &operator=(const AtomicFile &) = delete;

  bool Valid() const { return created_; }
  int Error() const { return error_; } // errno of the creation, 0 if none
  // The temporary file's descriptor, open for reading and writing (libtiff
  // reads back what it wrote); -1 once handed over or closed.
  int Fd() const { return fd_.Get(); }
  const std::string &TempPath() const { return temp_; }
  const std::string &Target() const { return target_; }

  // Writes all of `bytes` at the current position. 0, or the errno.
  int Write(std::string_view bytes);
  // Another owner (the TIFF library) closes the descriptor from now on.
  void HandOver() { fd_.Release(); }

  // Flushes the data to the disk (with `sync`, and only while the
  // descriptor is still held here), closes it and puts the file at the
  // target: with `replace` whatever is there is replaced (rename never
  // follows a link standing there); without it the file is put in place
  // only when nothing is there yet, else EEXIST. 0, or the errno of the
  // step that failed; the temporary file is then removed. `placed`, when
  // given, receives the stamp of the file now at the target, taken after
  // the rename (which changes it), and only when it is still the file this
  // wrote; otherwise it is left zero.
  int Commit(bool sync = true, bool replace = true,
             FileStamp *placed = nullptr);

private:
  int dirFd_; // not owned
  std::string target_, temp_;
  UniqueFd fd_;
  int error_ = 0;
  bool created_ = false;
  bool committed_ = false;
};

// Whether `name` (a file name without folder) has the temporary name form
// above; `owner` gets the writer's process id.
bool IsTemporaryName(const std::string &name, long *owner = nullptr);

// Removes the temporary files that atomic writes of processes no longer
// running left in `folder` (a process killed in mid-write); only regular
// files of that exact name form are touched. An empty `folder` is the
// working folder, where the temporary of a target without a folder part
// goes. Returns how many.
size_t RemoveStaleTemporaries(const std::string &folder);

} // namespace kestrane
