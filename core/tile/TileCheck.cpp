#include "tile/TileCheck.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tile/JpegBounds.h"
#include "tile/JpegErrors.h"

namespace kestrane {

namespace {

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
  jpeg_read_header(cinfo, TRUE);
  if (!JpegSidesWithinBounds(*cinfo))
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

// The bytes the coefficients of the whole picture take, whole blocks of
// whole MCUs, as a decoder that keeps them allocates them.
size_t CoefficientBytes(const jpeg_decompress_struct &cinfo) {
  size_t bytes = 0;
  for (int i = 0; i < cinfo.num_components; ++i) {
    const jpeg_component_info &c = cinfo.comp_info[i];
    const auto up = [](size_t n, int m) {
      return (n + static_cast<size_t>(m) - 1) / static_cast<size_t>(m) *
             static_cast<size_t>(m);
    };
    bytes += up(c.width_in_blocks, c.h_samp_factor) *
             up(c.height_in_blocks, c.v_samp_factor) * sizeof(JBLOCK);
  }
  return bytes;
}

// How a reading of the data alone ended.
enum class DataRead { Decodes, Fails, DecodeInFull };

// The reading of the compressed data, as Decode sets the decoder up but in
// buffered-image mode: jpeg_start_decompress then reads nothing, and the
// loop below takes the data in as jpeg_start_decompress does for a picture
// of several scans, the progress monitor (the bounds, the stop request)
// called before each step. Holds no object with a destructor.
DataRead ReadData(jpeg_decompress_struct *cinfo, JpegErrorManager *err,
                  const unsigned char *data, unsigned long size) {
  if (setjmp(err->jump) != 0)
    return DataRead::Fails;
  jpeg_mem_src(cinfo, data, size);
  jpeg_read_header(cinfo, TRUE);
  if (!JpegSidesWithinBounds(*cinfo))
    return DataRead::Fails;
  // A picture whose first scan holds every component has one scan (the
  // decoder refuses a second): decoded in full, its coefficients are not
  // kept, and nothing is bounded by the decoder's memory.
  if (!cinfo->progressive_mode &&
      cinfo->comps_in_scan == cinfo->num_components) {
    if (CoefficientBytes(*cinfo) > static_cast<size_t>(kMaxJpegDecoderMemory))
      return DataRead::DecodeInFull;
    cinfo->mem->max_memory_to_use = 0;
  }
  cinfo->dct_method = JDCT_IFAST;
  cinfo->do_fancy_upsampling = FALSE;
  cinfo->buffered_image = TRUE;
  jpeg_start_decompress(cinfo);
  for (;;) {
    if (cinfo->progress != nullptr)
      cinfo->progress->progress_monitor(reinterpret_cast<j_common_ptr>(cinfo));
    const int step = jpeg_consume_input(cinfo);
    if (step == JPEG_REACHED_EOI)
      break;
    if (step == JPEG_SUSPENDED) // a memory source never waits for data
      return DataRead::Fails;
  }
  jpeg_finish_decompress(cinfo);
  return DataRead::Decodes;
}

uint32_t BigEndian32(const unsigned char *p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
         (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

} // namespace

bool JpegDecodes(std::string_view bytes, const StopFlag *cancel,
                 JpegPicture picture) {
  if (bytes.size() < 2)
    return false;
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  InstallJpegErrors(cinfo, err);
  if (setjmp(err.jump) != 0)
    return false; // jpeg_create_decompress itself can fail (out of memory)
  jpeg_create_decompress(&cinfo);
  JpegBounds bounds;
  bounds.Cancel = cancel;
  BoundJpegDecoding(cinfo, bounds);
  const bool ok = Decode(&cinfo, &err,
                         reinterpret_cast<const unsigned char *>(bytes.data()),
                         static_cast<unsigned long>(bytes.size()),
                         picture == JpegPicture::Eighth ? 8 : 1);
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

bool JpegDataDecodes(std::string_view bytes, const StopFlag *cancel) {
  if (bytes.size() < 2)
    return false;
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  InstallJpegErrors(cinfo, err);
  if (setjmp(err.jump) != 0)
    return false;
  jpeg_create_decompress(&cinfo);
  JpegBounds bounds;
  bounds.Cancel = cancel;
  BoundJpegDecoding(cinfo, bounds);
  const DataRead read = ReadData(
      &cinfo, &err, reinterpret_cast<const unsigned char *>(bytes.data()),
      static_cast<unsigned long>(bytes.size()));
  jpeg_destroy_decompress(&cinfo);
  if (read == DataRead::DecodeInFull)
    return JpegDecodes(bytes, cancel);
  return read == DataRead::Decodes;
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
         (signature == ImageSignature::Jpeg &&
          JpegDecodes(bytes, nullptr, picture));
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

bool PngWithinBounds(std::string_view bytes) {
  if (!PngHeaderIsSound(bytes))
    return false;
  const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
  return BigEndian32(p + 16) <= kMaxJpegSide &&
         BigEndian32(p + 20) <= kMaxJpegSide;
}

bool StoredTileIsImage(std::string_view bytes, const StopFlag *cancel) {
  const ImageSignature signature = SignatureOf(bytes);
  if (signature == ImageSignature::Png)
    return PngHeaderIsSound(bytes);
  return signature == ImageSignature::Jpeg && JpegDecodes(bytes, cancel);
}

} // namespace kestrane
