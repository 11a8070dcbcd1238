#include <cstring>

#include "inventory/TaskInventory.h"
#include "inventory/TileBits.h"
#include "tile/TileCheck.h"
#include "worker/FailureTexts.h"

namespace kestrane {
namespace inventory_detail {

NameCoords NameCoordsOf(const DownloadTask &t, int32_t x, int32_t y) {
  switch (t.Params.Dir) {
  case 1: // East
    return {int64_t{t.MaxY} + t.MinY - y, x};
  case 2: // South
    return {int64_t{t.MaxX} + t.MinX - x, int64_t{t.MaxY} + t.MinY - y};
  case 3: // West
    return {y, int64_t{t.MaxX} + t.MinX - x};
  default: // North
    return {x, y};
  }
}

bool TileOfName(const DownloadTask &t, int64_t a, int64_t b, int32_t *x,
                int32_t *y) {
  int64_t tx = a, ty = b;
  switch (t.Params.Dir) {
  case 1: // East
    tx = b;
    ty = int64_t{t.MaxY} + t.MinY - a;
    break;
  case 2: // South
    tx = int64_t{t.MaxX} + t.MinX - a;
    ty = int64_t{t.MaxY} + t.MinY - b;
    break;
  case 3: // West
    tx = int64_t{t.MaxX} + t.MinX - b;
    ty = a;
    break;
  default: // North
    break;
  }
  if (tx < t.MinX || tx > t.MaxX || ty < t.MinY || ty > t.MaxY)
    return false;
  *x = static_cast<int32_t>(tx);
  *y = static_cast<int32_t>(ty);
  return true;
}

namespace {

// A whole number as the task writes it: an optional "-", then digits
// without a leading zero (except "0" itself). Moves `s` past it.
bool ReadCanonicalInt(std::string_view &s, int64_t *value) {
  size_t i = 0;
  const bool negative = !s.empty() && s[0] == '-';
  if (negative)
    ++i;
  const size_t first = i;
  int64_t v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (i - first >= 11)
      return false; // beyond any tile number of a 32-bit grid
    v = v * 10 + (s[i] - '0');
    ++i;
  }
  const size_t digits = i - first;
  if (digits == 0 || (digits > 1 && s[first] == '0') || (negative && v == 0))
    return false;
  *value = negative ? -v : v;
  s.remove_prefix(i);
  return true;
}

bool Eat(std::string_view &s, std::string_view what) {
  if (s.substr(0, what.size()) != what)
    return false;
  s.remove_prefix(what.size());
  return true;
}

uint32_t BigEndian32(const unsigned char *p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
         (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// The eight-byte signature, then the IHDR chunk with its 13 bytes: a width
// and height that are not zero (and fit 31 bits), a bit depth and colour
// type that go together.
bool PngHeaderIsSound(std::string_view bytes) {
  static const unsigned char kSignature[8] = {0x89, 'P',  'N',  'G',
                                              0x0D, 0x0A, 0x1A, 0x0A};
  if (bytes.size() < 8 + 8 + 13 + 4)
    return false;
  const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
  if (std::memcmp(p, kSignature, 8) != 0 || BigEndian32(p + 8) != 13 ||
      std::memcmp(p + 12, "IHDR", 4) != 0)
    return false;
  const uint32_t width = BigEndian32(p + 16), height = BigEndian32(p + 20);
  if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu)
    return false;
  const unsigned depth = p[24], colour = p[25];
  const bool depthFits =
      (colour == 0 &&
       (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)) ||
      (colour == 3 && (depth == 1 || depth == 2 || depth == 4 || depth == 8)) ||
      ((colour == 2 || colour == 4 || colour == 6) &&
       (depth == 8 || depth == 16));
  // Compression and filter methods have one value each; interlace two.
  return depthFits && p[26] == 0 && p[27] == 0 && p[28] <= 1;
}

} // namespace

ParsedName ParseTileName(std::string_view name, int32_t zoom,
                         std::string_view extension) {
  ParsedName out;
  std::string_view s = name;
  int64_t a = 0, b = 0, z = 0;
  if (!Eat(s, "ks_") || !ReadCanonicalInt(s, &a) || !Eat(s, "_") ||
      !ReadCanonicalInt(s, &b) || !Eat(s, "_") || !ReadCanonicalInt(s, &z) ||
      z != zoom || !Eat(s, ".") || !Eat(s, extension))
    return out;
  if (s.empty())
    out.Kind = NameKind::Tile;
  else if (s == kCrashedSuffix)
    out.Kind = NameKind::Crashed;
  else if (s == kInvalidSuffix)
    out.Kind = NameKind::Invalid;
  else
    return out;
  out.A = a;
  out.B = b;
  return out;
}

bool TileBodyChecks(std::string_view bytes) {
  const ImageSignature signature = SignatureOf(bytes);
  if (signature == ImageSignature::Png)
    return PngHeaderIsSound(bytes);
  return signature == ImageSignature::Jpeg && JpegDecodes(bytes);
}

} // namespace inventory_detail

ViewCell ViewPlacement(const DownloadTask &task, int32_t x, int32_t y) {
  const inventory_detail::NameCoords n =
      inventory_detail::NameCoordsOf(task, x, y);
  return {n.A - task.ViewMinX, int64_t{task.ViewMaxY} - n.B};
}

} // namespace kestrane
