#pragma once
// The checks made before a run writes an output the user named (the
// joiner's picture, the audit's and the viewer's list of missing tiles) or
// a file that may be very large (the tile lists, those lists).
#include <cstdint>
#include <optional>
#include <string>

namespace kestrane {

// What stands at `path` when an output must not replace it: "a folder",
// "a device", "a FIFO" or "a socket". A link is looked through, so that
// /dev/stdout (a link to the terminal or a pipe) counts as what it names.
// nullptr when nothing, a regular file, or a link to one or to nothing
// stands there: a replacement puts a new file at the path and changes
// nothing else.
const char *NonFileAt(const std::string &path);

// Throws KError(InputRefused, "Cannot create file " + path + ": it is " +
// NonFileAt(path)) when something other than a regular file stands there;
// it is then left as it is.
void RefuseNonFileOutput(const std::string &path);

// A write of more than this many bytes first asks the disk for room.
inline constexpr uint64_t kLargeWriteBytes = 1000000000; // 1 GB

// The bytes a writer without privileges may still put on the file system
// that holds `folder` (a folder path, "" for the working folder); nullopt
// when it cannot be asked.
std::optional<uint64_t> FreeDiskBytes(const std::string &folder);

// The refusal of a write of `needed` bytes to `path` on a disk with `free`
// bytes left: "Cannot create file PATH: it needs 23.1 GB, and the disk has
// 4.2 GB free"; empty when the write is not over kLargeWriteBytes or fits.
std::string NoRoomText(const std::string &path, uint64_t needed, uint64_t free);

// Throws KError(CannotWrite, NoRoomText(...)) when a write of `needed`
// bytes to `path` is over kLargeWriteBytes and more than its disk has free.
// A disk that cannot be asked lets the write go ahead.
void CheckRoomFor(const std::string &path, uint64_t needed);

// "23.1 GB", "512.0 MB", "900 bytes": a size as the messages above give it.
std::string SizeText(uint64_t bytes);

} // namespace kestrane
