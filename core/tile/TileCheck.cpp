#include "tile/TileCheck.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tile/JpegErrors.h"

namespace kestrane {

namespace {

// A tile is 256 x 256. A picture wider or taller than this is not a tile but
// one made to exhaust memory and time, and counts as not decodable.
constexpr JDIMENSION kMaxSide = 4096;
// Every scan makes the decoder walk the whole picture once more, for as few
// as a hundred bytes of input; a progressive tile has about ten.
constexpr int kMaxScans = 64;
// The decoder's own working memory (the coefficient buffers of progressive
// and multi-scan pictures) is held to this: eight workers at once stay
// well inside a small machine's memory. More fails as a decoding error.
constexpr long kMaxDecoderMemory = 16L * 1024 * 1024;

// Called by the decoder as it reads each part of the input: a picture with
// too many scans is left at the first one over the limit.
void OnProgress(j_common_ptr cinfo) {
  auto *d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans)
    LeaveJpegDecoding(cinfo);
}

// The rows of one read, kept per thread so that no tile allocates them.
thread_local std::vector<JSAMPLE> scanlines;

// The decoding proper. Holds no object with a destructor, because an error
// leaves it by longjmp.
bool Decode(jpeg_decompress_struct *cinfo, JpegErrorManager *err,
            const unsigned char *data, unsigned long size,
            unsigned int scaleDenom) {
  if (setjmp(err->jump) != 0)
    return false;
  jpeg_mem_src(cinfo, data, size);
  cinfo->mem->max_memory_to_use = kMaxDecoderMemory;
  jpeg_read_header(cinfo, TRUE);
  if (cinfo->image_width > kMaxSide || cinfo->image_height > kMaxSide)
    return false;
  // Only whether the data decodes matters, not how the picture looks.
  cinfo->dct_method = JDCT_IFAST;
  cinfo->do_fancy_upsampling = FALSE;
  cinfo->scale_num = 1;
  cinfo->scale_denom = scaleDenom;
  jpeg_start_decompress(cinfo);

  const std::size_t stride =
      static_cast<std::size_t>(cinfo->output_width) * cinfo->output_components;
  const int rows = cinfo->rec_outbuf_height > 0 ? cinfo->rec_outbuf_height : 1;
  const std::size_t need = stride * static_cast<std::size_t>(rows);
  if (scanlines.size() < need)
    scanlines.resize(need);
  JSAMPROW rowPointers[16];
  const int batch = rows < 16 ? rows : 16;
  for (int i = 0; i < batch; ++i)
    rowPointers[i] = scanlines.data() + stride * static_cast<std::size_t>(i);
  while (cinfo->output_scanline < cinfo->output_height)
    jpeg_read_scanlines(cinfo, rowPointers, static_cast<JDIMENSION>(batch));
  jpeg_finish_decompress(cinfo);
  return true;
}

uint32_t BigEndian32(const unsigned char *p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
         (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

} // namespace

bool JpegDecodes(std::string_view bytes, JpegPicture picture) {
  if (bytes.size() < 2)
    return false;
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  InstallJpegErrors(cinfo, err);
  if (setjmp(err.jump) != 0)
    return false; // jpeg_create_decompress itself can fail (out of memory)
  jpeg_create_decompress(&cinfo);
  jpeg_progress_mgr progress{};
  progress.progress_monitor = OnProgress;
  cinfo.progress = &progress;
  const bool ok = Decode(&cinfo, &err,
                         reinterpret_cast<const unsigned char *>(bytes.data()),
                         static_cast<unsigned long>(bytes.size()),
                         picture == JpegPicture::Eighth ? 8 : 1);
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

ImageSignature SignatureOf(std::string_view bytes) {
  if (bytes.size() < 2)
    return ImageSignature::None;
  const auto b0 = static_cast<unsigned char>(bytes[0]);
  const auto b1 = static_cast<unsigned char>(bytes[1]);
  if (b0 == 0x89 && b1 == 0x50)
    return ImageSignature::Png;
  if (b0 == 0xFF && b1 == 0xD8)
    return ImageSignature::Jpeg;
  return ImageSignature::None;
}

bool BodyIsImage(std::string_view bytes, JpegPicture picture) {
  const ImageSignature signature = SignatureOf(bytes);
  return signature == ImageSignature::Png ||
         (signature == ImageSignature::Jpeg && JpegDecodes(bytes, picture));
}

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

bool StoredTileIsImage(std::string_view bytes) {
  const ImageSignature signature = SignatureOf(bytes);
  if (signature == ImageSignature::Png)
    return PngHeaderIsSound(bytes);
  return signature == ImageSignature::Jpeg && JpegDecodes(bytes);
}

} // namespace kestrane
