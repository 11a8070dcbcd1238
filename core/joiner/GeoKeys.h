#pragma once
#include <cstdint>
#include <span>
#include <string_view>

namespace kestrane::joiner_detail {

// The GeoTIFF tags of a North picture: the pixel scale, the tie point of
// the top left corner and the keys of Web Mercator (EPSG:3857). The keys
// never change, so the key directory is a fixed table rather than the work
// of a GeoTIFF library.
inline constexpr uint16_t kPixelScaleTag = 33550;
inline constexpr uint16_t kTiePointTag = 33922;
inline constexpr uint16_t kKeyDirectoryTag = 34735;
inline constexpr uint16_t kAsciiParamsTag = 34737;

// The key directory, as the values of kKeyDirectoryTag (SHORT).
std::span<const uint16_t> WebMercatorKeys();
// The ASCII parameters the citation key points into, without the NUL that
// ends the tag's value.
std::string_view WebMercatorCitation();

} // namespace kestrane::joiner_detail
