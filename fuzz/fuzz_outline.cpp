// Random text through the outline reader, and every outline it takes
// through the inside test of a small block: the reader either refuses with
// its own error or gives polygons that write out and read back the same,
// and the inside test counts no more tiles than the block holds.
#include "fuzz/FuzzTemp.h"
#include "geo/InsideTiles.h"
#include "geo/OutlineGeoJson.h"
#include "platform/Errors.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace kestrane;
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  Outline outline;
  try {
    outline = ParseOutlineGeoJson(text);
  } catch (const KError &) {
    return 0; // refused with the reader's own text
  }
  if (ParseOutlineGeoJson(OutlineToGeoJson(outline)) != outline)
    fuzz::Fail("an outline written out did not read back the same");
  const GridBlock block{8, 4, 23, 11, 5};
  try {
    const InsideTiles inside(outline, block);
    if (inside.Count() < 0 || inside.Count() > block.Tiles())
      fuzz::Fail("more inside tiles than the block holds");
    int64_t counted = 0;
    for (int32_t x = block.MinX; x <= block.MaxX; ++x)
      for (int32_t y = block.MinY; y <= block.MaxY; ++y)
        counted += inside.Contains(x, y) ? 1 : 0;
    if (counted != inside.Count())
      fuzz::Fail("the inside count differs from the tiles inside");
  } catch (const KError &) {
    // An outline across the 180th meridian: refused.
  }
  return 0;
}
