#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "areamap/WorldMap.h"

namespace kestrane {

// The text compared by the search: letters of the Latin alphabets (ASCII,
// Latin-1, Latin Extended-A) and Greek and Cyrillic capitals folded to
// small ones; everything else kept byte for byte.
std::string FoldCase(std::string_view utf8);

// The places whose name starts with `typed` in any letter case, countries
// before provinces, each group by name; at most `limit`. Leading and
// trailing blanks of `typed` do not count; an empty text finds nothing.
std::vector<size_t> FindPlaces(const WorldMap &map, std::string_view typed,
                               size_t limit = 20);

// What the drop-down shows: "France" or "Bretagne, France".
std::string PlaceTitle(const MapPlace &place);

} // namespace kestrane
