#include "joiner/GeoKeys.h"

namespace kestrane::joiner_detail {

namespace {

constexpr uint16_t kModelTypeKey = 1024, kModelProjected = 1;
constexpr uint16_t kRasterTypeKey = 1025, kRasterPixelIsArea = 1;
constexpr uint16_t kCitationKey = 1026;
constexpr uint16_t kProjectedCsKey = 3072, kWebMercator = 3857;
constexpr uint16_t kLinearUnitsKey = 3076, kMetre = 9001;

// An ASCII key's text ends with "|" in the ASCII parameters.
constexpr char kCitation[] = "WGS 84 / Pseudo-Mercator|";
constexpr uint16_t kCitationLength = sizeof kCitation - 1;

// Version 1, revision 1.0, five keys, each (key, where its value is: 0 in
// the entry itself, count, value or offset), sorted by key.
// clang-format off
constexpr uint16_t kKeyDirectory[] = {
    1,               1, 0,               5,
    kModelTypeKey,   0, 1,               kModelProjected,
    kRasterTypeKey,  0, 1,               kRasterPixelIsArea,
    kCitationKey,    kAsciiParamsTag, kCitationLength, 0,
    kProjectedCsKey, 0, 1,               kWebMercator,
    kLinearUnitsKey, 0, 1,               kMetre,
};
// clang-format on

} // namespace

std::span<const uint16_t> WebMercatorKeys() {
  return kKeyDirectory;
}

std::string_view WebMercatorCitation() {
  return {kCitation, kCitationLength};
}

} // namespace kestrane::joiner_detail
