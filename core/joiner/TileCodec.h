#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/StopSignal.h"

namespace kestrane {

// What the frame header of a JPEG says, read without decoding.
struct JpegFrame {
  bool Parsed = false;      // SOI, a frame header and a scan were found
  bool Sequential = false;  // baseline or extended sequential, Huffman coded
  bool EndsWithEoi = false; // the data ends with the end-of-image marker
  int Width = 0, Height = 0, Components = 0, Precision = 0;
  int HSampling = 0, VSampling = 0; // of the first component
  bool ChromaOneByOne = false;      // the other components are 1 x 1
  // The three components are R, G and B rather than Y, Cb and Cr (an Adobe
  // marker with no transform, or component ids "RGB" with no JFIF marker),
  // as libjpeg tells them apart.
  bool Rgb = false;
};

// Reads the markers of `bytes` up to the first scan.
JpegFrame ReadJpegFrame(std::string_view bytes);

// True when a TIFF tile with JPEG compression and YCbCr sub-sampling
// (h, v) can hold these bytes as they are: a sequential 8-bit JPEG of 256 x
// 256 pixels, three Y Cb Cr components, the first sampled h x v, the others
// 1 x 1, ending with its end-of-image marker.
bool CarriesAsTile(const JpegFrame &frame, int h, int v);

// 256 x 256 RGB pixels, rows from the top.
inline constexpr int kTilePixels = 256;
using RgbTile = std::vector<uint8_t>;

// Decodes a JPEG or PNG tile body to RGB and fits it to 256 x 256 (nearest
// pixel) when it has another size. A JPEG is decoded within the bounds of
// the workers' image check (tile/JpegBounds.h), a PNG within the same bound
// on a side. False when it does not decode, is far larger than a tile, or
// `cancel` was requested meanwhile.
bool DecodeTileBody(std::string_view bytes, RgbTile &rgb,
                    const StopFlag *cancel = nullptr);

// Decodes a JPEG at 1/`denominator` of its size (1, 2, 4 or 8) into `rgb`,
// within the same bounds, and sets `width` and `height` to the decoded size.
// False on a decoding error.
bool DecodeJpegScaled(std::string_view bytes, int denominator, RgbTile &rgb,
                      int &width, int &height);

// True when a map app takes these bytes as a tile as they are: a whole
// 8-bit JPEG of 256 x 256 pixels, in grey or colour.
bool CarriesAsMapTile(const JpegFrame &frame);

// Which JPEGs a writer takes as they are.
enum class CarryRule : uint8_t {
  TiffTile, // CarriesAsTile with the form's sampling
  MapTile,  // CarriesAsMapTile
};

// How a writer takes a stored tile's bytes: the JPEGs it carries as they
// are, and the sampling and quality of what it encodes.
struct TileForm {
  CarryRule Rule = CarryRule::TiffTile;
  int H = 2, V = 2;
  int Quality = 85;
};

// What becomes of a stored tile's bytes in the picture.
enum class TileUse : uint8_t {
  Carried,   // written as they are
  Reencoded, // decoded and encoded once
  Damaged,   // they fail the workers' image check, or do not decode
  Cancelled, // the decoding was left for a stop request
};

// A JPEG the writer carries (by `form`) that passes the workers' image
// check is carried; the check's verdict is reached without the inverse DCT
// and the colour conversion (JpegDataDecodes), or is `checked`: the record
// of checked tiles shows that these very bytes passed it when stored. Anything
// else is decoded within the same bounds and encoded into `encoded` with the
// form's sampling and quality. `rgb` and `encoded` are reused between calls.
TileUse PrepareTile(std::string_view bytes, const TileForm &form,
                    const StopFlag *cancel, RgbTile &rgb, std::string &encoded,
                    bool checked = false);

// Encodes 256 x 256 RGB pixels as a baseline YCbCr JPEG whose luminance is
// sampled h x v, as a TIFF tile of the joined picture holds it. Throws
// KError when the encoder fails.
void EncodeTileJpeg(const RgbTile &rgb, int h, int v, int quality,
                    std::string &out);

} // namespace kestrane
