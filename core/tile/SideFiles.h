#pragma once
#include <string>
#include <string_view>

namespace kestrane {

// The side files beside a tile that keep a body which was no image, for a
// look later: one that announced a JPEG but did not decode ("crashed"), and
// one that was neither ("invalid"). A download worker writes them when it
// gives the tile up; a re-download that stores the tile removes them; the
// inventory and the viewer count them.
enum class SideFile { Crashed, Invalid };

inline constexpr std::string_view kCrashedSuffix = ".crashed";
inline constexpr std::string_view kInvalidSuffix = ".invalid";

// ".crashed" or ".invalid".
std::string_view SideFileSuffix(SideFile kind);
// The side file of the tile at `tilePath`: the tile's path and the suffix.
std::string SideFilePath(const std::string &tilePath, SideFile kind);
// Removes both side files of the tile `tileName` of the folder held open as
// `folderFd`, where there are any.
void RemoveSideFiles(int folderFd, const std::string &tileName);

} // namespace kestrane
