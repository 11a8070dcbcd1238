#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrane {

// The placeholder: the program's blank image, which a download worker
// copies into the place of a tile it gives up, so that the block has a file
// for every tile. It ships in the program folder as blankimg/blank180.jpg;
// a tile file that is byte for byte the placeholder is a tile given up, not
// a stored one.

inline constexpr int32_t kPlaceholderNumber = 180;

// "blankimg/blank<number>.<extension>" in `programFolder` (empty: the
// folder of the running executable).
std::string PlaceholderPath(const std::string &programFolder,
                            int32_t number = kPlaceholderNumber,
                            std::string_view extension = "jpg");

// The placeholder's bytes from `programFolder` (empty: the running
// executable's); empty when it cannot be read.
std::string PlaceholderBytes(const std::string &programFolder);

// Copies the placeholder at `placeholderPath` to `tilePath`, only where no
// file is yet: a tile stored by an earlier run is worth more than a blank.
// False only when the placeholder is there and no file is at `tilePath`
// but the copy failed; a missing placeholder places nothing and is no
// failure.
bool PlacePlaceholder(const std::string &placeholderPath,
                      const std::string &tilePath);
// The same for the tile `tileName` of the folder held open as `folderFd`.
bool PlacePlaceholder(const std::string &placeholderPath, int folderFd,
                      const std::string &tileName);

// Whether the file at `path` holds a tile without the decode check: a
// non-empty regular file that is not `placeholder` (its bytes; empty: any
// such file counts).
bool TileFileIsStored(const std::string &path, const std::string &placeholder);

} // namespace kestrane
