#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrane {

// A tile's file name: "ks_" A "_" B "_" zoom "." extension. A and B are the
// tile's column and row in the picture seen looking in the task's
// direction, mirrored within the block's own ranges; a North task's names
// carry the grid's own numbers. The downloader writes these names, and the
// inventory, the viewer, the joiner and the re-download run read them: this
// is the one place that makes and reads them.

// The grid ranges of a task's block and its direction (0 North, 1 East,
// 2 South, 3 West; any other value reads as North).
struct TileBlock {
  int32_t MinX = 0, MinY = 0, MaxX = 0, MaxY = 0;
  int32_t Dir = 0;
};

// The two numbers of a tile's file name.
struct TileNameNumbers {
  int64_t A = 0, B = 0;
};

// A place on the tile grid, wide enough for any number a name can carry.
struct GridPlace {
  int64_t X = 0, Y = 0;
};

// The numbers of the name of the tile (x, y) of `block`.
TileNameNumbers NameNumbersOf(const TileBlock &block, int32_t x, int32_t y);
// The reverse: the grid place whose name carries `numbers`. It lies outside
// the block when no tile of the block has that name (see BlockHolds).
GridPlace TileOfNameNumbers(const TileBlock &block, TileNameNumbers numbers);
bool BlockHolds(const TileBlock &block, GridPlace place);

// The file name itself, appended to `out` or returned.
void AppendTileFileName(std::string &out, TileNameNumbers numbers, int32_t zoom,
                        std::string_view extension);
std::string TileFileName(TileNameNumbers numbers, int32_t zoom,
                         std::string_view extension);

// What a name in a tile folder is: a tile's file, one of its side files
// (SideFiles.h), or anything else.
enum class TileNameKind : uint8_t { Other, Tile, Crashed, Invalid };
struct ParsedTileName {
  TileNameKind Kind = TileNameKind::Other;
  TileNameNumbers Numbers;
};
// Reads a name exactly as a task of zoom `zoom` and tile extension
// `extension` writes it: numbers without leading zeros or "+", that zoom,
// that extension, optionally followed by a side file's suffix. Anything
// else is Other.
ParsedTileName ParseTileFileName(std::string_view name, int32_t zoom,
                                 std::string_view extension);

// Whether `name` has the form of a tile file that a failed-tile list may
// name: "ks_<digits>_<digits>_<digits>.jpg", of any task.
bool HasTileFileNameForm(std::string_view name);

} // namespace kestrane
