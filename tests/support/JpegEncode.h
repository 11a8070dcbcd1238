#pragma once
// The one JPEG encoder of the test fixtures and the benchmarks. Header only:
// the benchmarks do not link the test support library.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace kestrane::fixture {

// A width x height RGB JPEG: libjpeg's defaults, then `configure(cinfo)`
// (quality, progression, a scan script), then the rows top to bottom, each
// pixel written by `pixel(x, y, rgb)` in scan order. Errors end the program
// (a fixture).
template <class Configure, class Pixel>
std::string EncodeJpeg(int width, int height, Configure &&configure,
                       Pixel &&pixel) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char *out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  configure(cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    for (int x = 0; x < width; ++x)
      pixel(x, y, &row[static_cast<std::size_t>(x) * 3]);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string bytes(reinterpret_cast<char *>(out), size);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return bytes;
}

} // namespace kestrane::fixture
