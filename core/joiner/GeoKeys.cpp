#include "joiner/GeoKeys.h"

#include <cstdint>
#include <iterator>

namespace kestrane::joiner_detail {

namespace {

// The GeoTIFF tags: numbers, and the GeoKeys written into the directory.
constexpr ttag_t kPixelScaleTag = 33550;
constexpr ttag_t kTiePointTag = 33922;
constexpr ttag_t kKeyDirectoryTag = 34735;
constexpr ttag_t kAsciiParamsTag = 34737;

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

char kPixelScaleName[] = "GeoPixelScale";
char kTiePointName[] = "GeoTiePoints";
char kKeyDirectoryName[] = "GeoKeyDirectory";
char kAsciiParamsName[] = "GeoASCIIParams";

const TIFFFieldInfo kGeoTiffFields[] = {
    {kPixelScaleTag, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_DOUBLE, FIELD_CUSTOM, 1,
     1, kPixelScaleName},
    {kTiePointTag, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_DOUBLE, FIELD_CUSTOM, 1,
     1, kTiePointName},
    {kKeyDirectoryTag, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_SHORT, FIELD_CUSTOM,
     1, 1, kKeyDirectoryName},
    {kAsciiParamsTag, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII, FIELD_CUSTOM, 1,
     0, kAsciiParamsName},
};

TIFFExtendProc parentExtender = nullptr;

// libtiff calls this for every directory it sets up.
void AddGeoTiffTags(TIFF *tif) {
  TIFFMergeFieldInfo(tif, kGeoTiffFields,
                     static_cast<uint32_t>(std::size(kGeoTiffFields)));
  if (parentExtender != nullptr)
    parentExtender(tif);
}

} // namespace

void RegisterGeoTiffTags() {
  static const bool registered = [] {
    parentExtender = TIFFSetTagExtender(AddGeoTiffTags);
    return true;
  }();
  (void)registered;
}

bool SetWebMercatorTags(TIFF *tif, const double scale[3], const double tie[6]) {
  TIFFSetField(tif, kPixelScaleTag, 3, scale);
  TIFFSetField(tif, kTiePointTag, 6, tie);
  return TIFFSetField(tif, kKeyDirectoryTag,
                      static_cast<uint32_t>(std::size(kKeyDirectory)),
                      kKeyDirectory) == 1 &&
         TIFFSetField(tif, kAsciiParamsTag, kCitation) == 1;
}

} // namespace kestrane::joiner_detail
