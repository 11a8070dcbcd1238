#include "tests/support/TileBodies.h"

#include <cstddef>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tests/support/JpegEncode.h"

namespace kestrane::test {

std::string WorkerJpeg(int width, int height, bool progressive) {
  return fixture::EncodeJpeg(
      width, height,
      [&](jpeg_compress_struct &cinfo) {
        jpeg_set_quality(&cinfo, 85, TRUE);
        if (progressive)
          jpeg_simple_progression(&cinfo);
      },
      [](int x, int y, JSAMPLE *rgb) {
        rgb[0] = static_cast<JSAMPLE>(x ^ y);
        rgb[1] = static_cast<JSAMPLE>(x * 3 + y);
        rgb[2] = static_cast<JSAMPLE>((x * y) >> 3);
      });
}

namespace {

// Where the entropy-coded data of the first scan begins.
size_t FirstScanData(const std::string &jpeg) {
  for (size_t i = 2; i + 3 < jpeg.size(); ++i) {
    if (static_cast<unsigned char>(jpeg[i]) == 0xFF &&
        static_cast<unsigned char>(jpeg[i + 1]) == 0xDA) {
      const size_t len = (static_cast<unsigned char>(jpeg[i + 2]) << 8) |
                         static_cast<unsigned char>(jpeg[i + 3]);
      return i + 2 + len;
    }
  }
  throw std::runtime_error("no start of scan in the JPEG");
}

} // namespace

std::string WorkerJpegCutInScan(const std::string &jpeg) {
  const size_t data = FirstScanData(jpeg);
  return jpeg.substr(0, data + (jpeg.size() - data) / 2);
}

std::string WorkerJpegCutBeforeScan(const std::string &jpeg) {
  const size_t data = FirstScanData(jpeg);
  // Back to the marker of the scan header.
  size_t i = data;
  while (i > 1 && !(static_cast<unsigned char>(jpeg[i - 2]) == 0xFF &&
                    static_cast<unsigned char>(jpeg[i - 1]) == 0xDA))
    --i;
  return jpeg.substr(0, i - 2);
}

std::string WorkerPngBody() {
  return std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + "not decoded";
}

std::string WorkerGifBody() {
  return "GIF89a\x01\x00\x01\x00 not a tile";
}

std::string WorkerBlankBytes() {
  std::ifstream in(std::string(KESTRANE_BUNDLE_DIR) + "blankimg/blank180.jpg",
                   std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

} // namespace kestrane::test
