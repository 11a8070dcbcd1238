#include "viewer/TileDecode.h"

#include <fcntl.h>

#include <algorithm>

#include "tile/JpegBounds.h"
#include "tile/JpegErrors.h"
#include "tile/TileCheck.h"
#include "tile/TileRead.h"

namespace kestrane {

namespace {

// The pixel order whose 32-bit words read 0xAARRGGBB on this machine.
constexpr J_COLOR_SPACE kWordOrder =
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    JCS_EXT_BGRA;
#else
    JCS_EXT_ARGB;
#endif

// Holds no object with a destructor: an error leaves it by longjmp. `out`
// is sized before the first row is read and only written through pointers.
bool Decode(jpeg_decompress_struct *cinfo, JpegErrorManager *err,
            const unsigned char *data, unsigned long size, int level,
            Pixels *out) {
  if (setjmp(err->jump) != 0)
    return false;
  jpeg_mem_src(cinfo, data, size);
  jpeg_read_header(cinfo, TRUE);
  if (!JpegSidesWithinBounds(*cinfo))
    return false;
  cinfo->scale_num = 1;
  cinfo->scale_denom = 1u << level;
  cinfo->out_color_space = kWordOrder;
  cinfo->dct_method = JDCT_ISLOW;
  jpeg_start_decompress(cinfo);
  out->Width = static_cast<int>(cinfo->output_width);
  out->Height = static_cast<int>(cinfo->output_height);
  out->Data.resize(static_cast<size_t>(out->Width) * out->Height);
  while (cinfo->output_scanline < cinfo->output_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(
        out->Data.data() +
        static_cast<size_t>(cinfo->output_scanline) * out->Width);
    jpeg_read_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_decompress(cinfo);
  return true;
}

} // namespace

std::optional<Pixels> DecodeJpeg(std::string_view bytes, int level,
                                 const StopFlag *cancel) {
  if (SignatureOf(bytes) != ImageSignature::Jpeg || level < 0 ||
      level > kMaxDecodeLevel)
    return std::nullopt;
  Pixels out;
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  // The worker check's error handling: data that ends early fails here too.
  InstallJpegErrors(cinfo, err);
  if (setjmp(err.jump) != 0)
    return std::nullopt;
  jpeg_create_decompress(&cinfo);
  JpegBounds bounds;
  bounds.Cancel = cancel;
  BoundJpegDecoding(cinfo, bounds);
  const bool ok = Decode(&cinfo, &err,
                         reinterpret_cast<const unsigned char *>(bytes.data()),
                         static_cast<unsigned long>(bytes.size()), level, &out);
  jpeg_destroy_decompress(&cinfo);
  if (!ok || out.Empty())
    return std::nullopt;
  return out;
}

std::optional<Pixels> DecodeTileFile(const std::string &path, int level) {
  std::string bytes;
  if (ReadStoredTile(AT_FDCWD, path.c_str(), kMaxViewTileBytes, bytes) !=
      StoredTileRead::Whole)
    return std::nullopt;
  return DecodeJpeg(bytes, level);
}

Pixels Shrink(const Pixels &src, int size) {
  Pixels out;
  if (src.Empty() || size <= 0)
    return out;
  out.Width = out.Height = size;
  out.Data.resize(static_cast<size_t>(size) * size);
  for (int oy = 0; oy < size; ++oy) {
    const int y0 = oy * src.Height / size;
    const int y1 = std::max(y0 + 1, (oy + 1) * src.Height / size);
    for (int ox = 0; ox < size; ++ox) {
      const int x0 = ox * src.Width / size;
      const int x1 = std::max(x0 + 1, (ox + 1) * src.Width / size);
      uint32_t r = 0, g = 0, b = 0, n = 0;
      for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
          const uint32_t p = src.Data[static_cast<size_t>(y) * src.Width + x];
          r += (p >> 16) & 0xFF;
          g += (p >> 8) & 0xFF;
          b += p & 0xFF;
          ++n;
        }
      out.Data[static_cast<size_t>(oy) * size + ox] =
          0xFF000000u | (r / n) << 16 | (g / n) << 8 | (b / n);
    }
  }
  return out;
}

uint32_t MeanColour(const Pixels &src) {
  if (src.Empty())
    return 0xFF000000u;
  uint64_t r = 0, g = 0, b = 0;
  for (const uint32_t p : src.Data) {
    r += (p >> 16) & 0xFF;
    g += (p >> 8) & 0xFF;
    b += p & 0xFF;
  }
  const uint64_t n = src.Data.size();
  return 0xFF000000u | static_cast<uint32_t>(r / n) << 16 |
         static_cast<uint32_t>(g / n) << 8 | static_cast<uint32_t>(b / n);
}

} // namespace kestrane
