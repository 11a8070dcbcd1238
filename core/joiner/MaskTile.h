#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrane::joiner_detail {

// The mask of one 256 x 256 tile: a set bit for every pixel that holds
// picture, rows of 32 bytes, the leftmost pixel in the highest bit.
using MaskBits = std::array<uint8_t, 256 * 256 / 8>;

// The mask compressed as a TIFF tile with deflate compression holds it
// (a zlib stream). Throws KError when zlib fails.
void DeflateMask(const MaskBits &bits, std::string &out);
// The reverse; false when `bytes` is no such mask.
bool InflateMask(std::string_view bytes, MaskBits &bits);

// The mask of a tile whose every pixel holds picture, compressed.
const std::string &FullMaskBytes();

// Sets quadrant `q` (0 top left, 1 top right, 2 bottom left, 3 bottom
// right) of `to` from the child tile's mask `from` at half size: a pixel
// holds picture when any of its four does. A null `from` is a child whose
// every pixel holds picture.
void ReduceIntoQuadrant(const MaskBits *from, int q, MaskBits &to);

// Whether every pixel of the top left `width` x `height` holds picture.
bool FullWithin(const MaskBits &bits, int width, int height);

} // namespace kestrane::joiner_detail
