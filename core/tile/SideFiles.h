#pragma once
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

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

// RemoveSideFiles for the many tiles of one run, reading each folder once:
// a tile whose folder held no side file of it when the folder was first
// read costs no call at all (side files that appear later are not seen). A
// folder that cannot be read falls back to RemoveSideFiles.
class SideFileRemover {
public:
  // The tile at `tilePath`, whose folder is held open as `folderFd`: the
  // folder is read and its files removed through that handle, never
  // through the path, which may since lead elsewhere; the path's folder
  // part only tells the folders apart.
  void RemoveFor(int folderFd, const std::string &tilePath);

private:
  struct Folder {
    bool Read = false;
    std::unordered_set<std::string> Names; // the side files it holds
  };
  std::unordered_map<std::string, Folder> folders_;
};

} // namespace kestrane
