#include "joiner/TileCodec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

#include "platform/Errors.h"
#include "tile/JpegBounds.h"
#include "tile/JpegErrors.h"
#include "tile/TileCheck.h"

namespace kestrane {

namespace {

// A tile body larger than this many pixels (after reduced-size decoding)
// is no tile and is not decoded: it would take the memory of many tiles.
constexpr unsigned long long kMaxPixels = 1ull << 22;

int Be16(const unsigned char *p) {
  return (p[0] << 8) | p[1];
}

// Fits `src` (w x h RGB) into a 256 x 256 tile, nearest pixel.
void FitToTile(const uint8_t *src, int w, int h, RgbTile &out) {
  out.resize(size_t{kTilePixels} * kTilePixels * 3);
  for (int y = 0; y < kTilePixels; ++y) {
    const int sy = static_cast<int>(int64_t{y} * h / kTilePixels);
    for (int x = 0; x < kTilePixels; ++x) {
      const int sx = static_cast<int>(int64_t{x} * w / kTilePixels);
      std::memcpy(&out[(size_t{static_cast<size_t>(y)} * kTilePixels + x) * 3],
                  &src[(static_cast<size_t>(sy) * w + sx) * 3], 3);
    }
  }
}

// The decoding proper. Holds no object with a destructor, because an error
// leaves it by longjmp; `rgb` is sized before the first libjpeg call.
bool DecodeInto(jpeg_decompress_struct *cinfo, JpegErrorManager *err,
                std::string_view bytes, int denominator, RgbTile *rgb,
                int *width, int *height) {
  if (setjmp(err->jump) != 0)
    return false;
  jpeg_mem_src(cinfo, reinterpret_cast<const unsigned char *>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(cinfo, TRUE);
  if (!JpegSidesWithinBounds(*cinfo) || cinfo->jpeg_color_space == JCS_CMYK ||
      cinfo->jpeg_color_space == JCS_YCCK)
    return false;
  cinfo->out_color_space = JCS_RGB;
  cinfo->scale_num = 1;
  cinfo->scale_denom = static_cast<unsigned int>(denominator);
  jpeg_start_decompress(cinfo);
  *width = static_cast<int>(cinfo->output_width);
  *height = static_cast<int>(cinfo->output_height);
  const size_t stride = static_cast<size_t>(*width) * 3;
  if (rgb->size() < stride * static_cast<size_t>(*height))
    return false; // sized by the caller from the header
  while (cinfo->output_scanline < cinfo->output_height) {
    JSAMPROW row = rgb->data() + stride * cinfo->output_scanline;
    jpeg_read_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_decompress(cinfo);
  return true;
}

bool DecodeJpeg(std::string_view bytes, int denominator, RgbTile &rgb,
                int &width, int &height, const StopFlag *cancel) {
  const JpegFrame frame = ReadJpegFrame(bytes);
  if (!frame.Parsed || frame.Width <= 0 || frame.Height <= 0 ||
      frame.Width > static_cast<int>(kMaxJpegSide) ||
      frame.Height > static_cast<int>(kMaxJpegSide))
    return false;
  // A picture larger than a tile is decoded at the least size that still
  // covers the tile.
  if (denominator == 0) {
    denominator = 8;
    while (denominator > 1 && (frame.Width / denominator < kTilePixels ||
                               frame.Height / denominator < kTilePixels))
      denominator /= 2;
  }
  if (static_cast<unsigned long long>(frame.Width / denominator) *
          (frame.Height / denominator) >
      kMaxPixels)
    return false;
  const size_t w = (static_cast<size_t>(frame.Width) + denominator - 1) /
                   static_cast<size_t>(denominator);
  const size_t h = (static_cast<size_t>(frame.Height) + denominator - 1) /
                   static_cast<size_t>(denominator);
  rgb.resize(w * h * 3);
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  cinfo.err = InstallJpegErrors(err);
  jpeg_create_decompress(&cinfo);
  JpegBounds bounds;
  bounds.Cancel = cancel;
  BoundJpegDecoding(cinfo, bounds);
  const bool ok =
      DecodeInto(&cinfo, &err, bytes, denominator, &rgb, &width, &height);
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

bool DecodePng(std::string_view bytes, std::vector<uint8_t> &rgb, int &width,
               int &height) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
    return false;
  if (image.width > kMaxJpegSide || image.height > kMaxJpegSide ||
      static_cast<unsigned long long>(image.width) * image.height >
          kMaxPixels) {
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_RGB;
  rgb.resize(PNG_IMAGE_SIZE(image));
  // Transparent pixels are laid on black.
  png_color black{0, 0, 0};
  if (!png_image_finish_read(&image, &black, rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  return true;
}

// Encoding: same rule as decoding, no destructors past setjmp.
bool EncodeInto(jpeg_compress_struct *cinfo, JpegErrorManager *err,
                const uint8_t *rgb, int h, int v, int quality,
                unsigned char **buffer, unsigned long *size) {
  if (setjmp(err->jump) != 0)
    return false;
  jpeg_mem_dest(cinfo, buffer, size);
  cinfo->image_width = kTilePixels;
  cinfo->image_height = kTilePixels;
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_RGB;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, TRUE);
  cinfo->comp_info[0].h_samp_factor = h;
  cinfo->comp_info[0].v_samp_factor = v;
  cinfo->comp_info[1].h_samp_factor = 1;
  cinfo->comp_info[1].v_samp_factor = 1;
  cinfo->comp_info[2].h_samp_factor = 1;
  cinfo->comp_info[2].v_samp_factor = 1;
  jpeg_start_compress(cinfo, TRUE);
  const size_t stride = size_t{kTilePixels} * 3;
  while (cinfo->next_scanline < cinfo->image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb + stride * cinfo->next_scanline);
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  return true;
}

// The frame header (SOF marker `m`, segment `s` of `len` bytes with its
// length field): size, precision, components and the first component's
// sampling. False when the segment is too short for its components.
bool ReadFrameHeader(unsigned char m, const unsigned char *s, size_t len,
                     JpegFrame &f, bool &idsRgb) {
  f.Sequential = m == 0xC0 || m == 0xC1;
  f.Precision = s[0];
  f.Height = Be16(s + 1);
  f.Width = Be16(s + 3);
  f.Components = s[5];
  if (len < 8 + 3 * static_cast<size_t>(f.Components))
    return false;
  if (f.Components > 0) {
    f.HSampling = s[7] >> 4;
    f.VSampling = s[7] & 15;
    f.ChromaOneByOne = true;
    for (int c = 1; c < f.Components; ++c)
      f.ChromaOneByOne = f.ChromaOneByOne && s[7 + 3 * c] == 0x11;
    idsRgb = f.Components == 3 && s[6] == 'R' && s[9] == 'G' && s[12] == 'B';
  }
  return true;
}

} // namespace

JpegFrame ReadJpegFrame(std::string_view bytes) {
  JpegFrame f;
  const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
  const size_t n = bytes.size();
  if (n < 4 || p[0] != 0xFF || p[1] != 0xD8)
    return f;
  size_t end = n;
  // Padding after the end-of-image marker is tolerated.
  while (end > 2 && p[end - 1] == 0)
    --end;
  f.EndsWithEoi = end >= 4 && p[end - 2] == 0xFF && p[end - 1] == 0xD9;
  bool frame = false, jfif = false, adobe = false, adobeRgb = false;
  bool idsRgb = false;
  size_t i = 2;
  while (i + 4 <= n) {
    if (p[i] != 0xFF)
      return f;
    const unsigned char m = p[i + 1];
    if (m == 0xFF) { // fill byte
      ++i;
      continue;
    }
    const size_t len = static_cast<size_t>(Be16(p + i + 2));
    if (len < 2 || i + 2 + len > n)
      return f;
    const unsigned char *s = p + i + 4;
    const bool sof =
        m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
    if (m == 0xE0 && len >= 7 && std::memcmp(s, "JFIF", 5) == 0)
      jfif = true;
    if (m == 0xEE && len >= 14 && std::memcmp(s, "Adobe", 5) == 0) {
      adobe = true;
      adobeRgb = s[11] == 0;
    }
    if (sof) {
      if (len < 8 || frame || !ReadFrameHeader(m, s, len, f, idsRgb))
        return f;
      frame = true;
    } else if (m == 0xDA) {
      f.Parsed = frame;
      f.Rgb = adobe ? adobeRgb : !jfif && idsRgb;
      return f;
    }
    i += 2 + len;
  }
  return f;
}

bool CarriesAsTile(const JpegFrame &f, int h, int v) {
  return f.Parsed && f.Sequential && f.EndsWithEoi && f.Precision == 8 &&
         f.Width == kTilePixels && f.Height == kTilePixels &&
         f.Components == 3 && !f.Rgb && f.HSampling == h && f.VSampling == v &&
         f.ChromaOneByOne;
}

bool DecodeTileBody(std::string_view bytes, RgbTile &rgb,
                    const StopFlag *cancel) {
  thread_local std::vector<uint8_t> whole;
  int w = 0, h = 0;
  bool ok = false;
  if (bytes.size() >= 8 && static_cast<unsigned char>(bytes[0]) == 0x89 &&
      bytes[1] == 'P')
    ok = DecodePng(bytes, whole, w, h);
  else
    ok = DecodeJpeg(bytes, 0, whole, w, h, cancel);
  if (!ok || w <= 0 || h <= 0)
    return false;
  if (w == kTilePixels && h == kTilePixels) {
    rgb.assign(whole.begin(),
               whole.begin() + static_cast<std::ptrdiff_t>(size_t{kTilePixels} *
                                                           kTilePixels * 3));
    return true;
  }
  FitToTile(whole.data(), w, h, rgb);
  return true;
}

bool DecodeJpegScaled(std::string_view bytes, int denominator, RgbTile &rgb,
                      int &width, int &height) {
  return DecodeJpeg(bytes, denominator, rgb, width, height, nullptr);
}

bool CarriesAsMapTile(const JpegFrame &f) {
  return f.Parsed && f.EndsWithEoi && f.Precision == 8 &&
         f.Width == kTilePixels && f.Height == kTilePixels &&
         (f.Components == 1 || f.Components == 3);
}

TileUse PrepareTile(std::string_view bytes, const TileForm &form,
                    const StopFlag *cancel, RgbTile &rgb, std::string &encoded,
                    bool checked) {
  const auto failed = [cancel] {
    return cancel != nullptr && cancel->Requested() ? TileUse::Cancelled
                                                    : TileUse::Damaged;
  };
  const JpegFrame frame = ReadJpegFrame(bytes);
  const bool carries = form.Rule == CarryRule::MapTile
                           ? CarriesAsMapTile(frame)
                           : CarriesAsTile(frame, form.H, form.V);
  if (carries)
    return checked || JpegDataDecodes(bytes, cancel) ? TileUse::Carried
                                                     : failed();
  if (!DecodeTileBody(bytes, rgb, cancel))
    return failed();
  EncodeTileJpeg(rgb, form.H, form.V, form.Quality, encoded);
  return TileUse::Reencoded;
}

void EncodeTileJpeg(const RgbTile &rgb, int h, int v, int quality,
                    std::string &out) {
  if (rgb.size() < size_t{kTilePixels} * kTilePixels * 3)
    throw KError(ErrorCause::SystemFailed, "JPEG encoder: short tile");
  jpeg_compress_struct cinfo;
  JpegErrorManager err;
  cinfo.err = InstallJpegErrors(err);
  jpeg_create_compress(&cinfo);
  unsigned char *buffer = nullptr;
  unsigned long size = 0;
  const bool ok =
      EncodeInto(&cinfo, &err, rgb.data(), h, v, quality, &buffer, &size);
  jpeg_destroy_compress(&cinfo);
  if (ok)
    out.assign(reinterpret_cast<const char *>(buffer), size);
  std::free(buffer);
  if (!ok)
    throw KError(ErrorCause::SystemFailed, "JPEG encoder failed");
}

} // namespace kestrane
