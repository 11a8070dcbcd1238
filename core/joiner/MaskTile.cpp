#include "joiner/MaskTile.h"

#include <algorithm>

#include <zlib.h>

#include "platform/Errors.h"

namespace kestrane::joiner_detail {

namespace {

constexpr int kSide = 256;
constexpr int kRowBytes = kSide / 8;

bool Bit(const MaskBits &m, int x, int y) {
  return (m[static_cast<size_t>(y) * kRowBytes + static_cast<size_t>(x / 8)] >>
          (7 - x % 8)) &
         1;
}

} // namespace

void DeflateMask(const MaskBits &bits, std::string &out) {
  uLongf size = compressBound(static_cast<uLong>(bits.size()));
  out.resize(size);
  if (compress2(reinterpret_cast<Bytef *>(out.data()), &size, bits.data(),
                static_cast<uLong>(bits.size()), 6) != Z_OK)
    throw KError(ErrorCause::SystemFailed, "Cannot compress a mask tile");
  out.resize(size);
}

bool InflateMask(std::string_view bytes, MaskBits &bits) {
  uLongf size = static_cast<uLongf>(bits.size());
  return uncompress(bits.data(), &size,
                    reinterpret_cast<const Bytef *>(bytes.data()),
                    static_cast<uLong>(bytes.size())) == Z_OK &&
         size == bits.size();
}

const std::string &FullMaskBytes() {
  static const std::string full = [] {
    MaskBits bits;
    bits.fill(0xFF);
    std::string out;
    DeflateMask(bits, out);
    return out;
  }();
  return full;
}

void ReduceIntoQuadrant(const MaskBits *from, int q, MaskBits &to) {
  constexpr int kHalf = kSide / 2;
  const int left = (q & 1) * kHalf, top = (q >> 1) * kHalf;
  for (int y = 0; y < kHalf; ++y)
    for (int x = 0; x < kHalf; ++x) {
      const bool set = from == nullptr || Bit(*from, 2 * x, 2 * y) ||
                       Bit(*from, 2 * x + 1, 2 * y) ||
                       Bit(*from, 2 * x, 2 * y + 1) ||
                       Bit(*from, 2 * x + 1, 2 * y + 1);
      const int px = left + x;
      uint8_t &byte = to[static_cast<size_t>(top + y) * kRowBytes +
                         static_cast<size_t>(px / 8)];
      const auto mask = static_cast<uint8_t>(0x80 >> (px % 8));
      byte = set ? static_cast<uint8_t>(byte | mask)
                 : static_cast<uint8_t>(byte & ~mask);
    }
}

bool FullWithin(const MaskBits &bits, int width, int height) {
  width = std::clamp(width, 0, kSide);
  height = std::clamp(height, 0, kSide);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (!Bit(bits, x, y))
        return false;
  return true;
}

} // namespace kestrane::joiner_detail
