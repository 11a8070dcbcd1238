#pragma once
// JPEG bodies made to cost a decoder time or memory, for the tests, the
// benchmark and the fuzz seeds of the body check. Header only: the
// benchmarks do not link the test support library.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/support/JpegEncode.h"

namespace kestrane::hostile {

// A width x height JPEG of a smooth picture (gradients), baseline or
// progressive, with 4:2:0 chroma. Errors end the program (a fixture).
inline std::string SmoothJpeg(int width, int height, bool progressive,
                              int quality = 75) {
  return fixture::EncodeJpeg(
      width, height,
      [&](jpeg_compress_struct &cinfo) {
        jpeg_set_quality(&cinfo, quality, TRUE);
        if (progressive)
          jpeg_simple_progression(&cinfo);
      },
      [&](int x, int y, JSAMPLE *rgb) {
        rgb[0] = static_cast<JSAMPLE>(x * 255 / width);
        rgb[1] = static_cast<JSAMPLE>(static_cast<unsigned>(y) * 255 /
                                      static_cast<unsigned>(height));
        rgb[2] = static_cast<JSAMPLE>(128);
      });
}

// A width x height JPEG of noise (every pixel drawn by a fixed generator),
// baseline or progressive, at quality 95: every scan carries data for every
// block, so each costs a decoder its full work.
inline std::string NoisyJpeg(int width, int height, bool progressive) {
  uint32_t state = 12345;
  const auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<JSAMPLE>(state >> 24);
  };
  return fixture::EncodeJpeg(
      width, height,
      [&](jpeg_compress_struct &cinfo) {
        jpeg_set_quality(&cinfo, 95, TRUE);
        if (progressive)
          jpeg_simple_progression(&cinfo);
      },
      [&](int, int, JSAMPLE *rgb) {
        rgb[0] = next();
        rgb[1] = next();
        rgb[2] = next();
      });
}

// A width x height progressive JPEG of one flat grey whose last scan holds
// the luminance's AC coefficients: all zero, so that scan is a few bytes
// of end-of-band runs however large the picture, while a decoder still
// visits every block for it.
inline std::string FlatProgressiveJpeg(int width, int height) {
  // DC of all components, then the AC of Cb, Cr and last Y.
  static const jpeg_scan_info script[] = {
      {3, {0, 1, 2}, 0, 0, 0, 0},
      {1, {1}, 1, 63, 0, 0},
      {1, {2}, 1, 63, 0, 0},
      {1, {0}, 1, 63, 0, 0},
  };
  return fixture::EncodeJpeg(
      width, height,
      [](jpeg_compress_struct &cinfo) {
        cinfo.scan_info = script;
        cinfo.num_scans = 4;
      },
      [](int, int, JSAMPLE *rgb) { rgb[0] = rgb[1] = rgb[2] = 128; });
}

// The JPEG with its last scan (from its start-of-scan marker to the end of
// image) present `times` times: each copy makes the decoder walk the whole
// picture again, for a few bytes of input.
inline std::string RepeatLastScan(const std::string &jpeg, int times) {
  std::size_t sos = std::string::npos;
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
    if (static_cast<unsigned char>(jpeg[i]) == 0xFF &&
        static_cast<unsigned char>(jpeg[i + 1]) == 0xDA)
      sos = i;
  const std::size_t eoi = jpeg.size() - 2; // FF D9
  if (sos == std::string::npos || sos > eoi)
    return jpeg;
  const std::string scan = jpeg.substr(sos, eoi - sos);
  std::string out = jpeg.substr(0, eoi);
  for (int i = 1; i < times; ++i)
    out += scan;
  out += jpeg.substr(eoi);
  return out;
}

// The number of scans. Entropy-coded data never holds FF DA (an FF there is
// followed by 00 or a restart marker), and the pictures made here have no
// marker segment that could, so each FF DA pair is a start-of-scan marker.
inline int CountScans(const std::string &jpeg) {
  int n = 0;
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
    if (static_cast<unsigned char>(jpeg[i]) == 0xFF &&
        static_cast<unsigned char>(jpeg[i + 1]) == 0xDA)
      ++n;
  return n;
}

// A body near the costliest that the bounds of the image check let
// through: a 1024 x 1024 progressive JPEG of noise whose last scan repeats
// up to 64 scans (9 MB; about 2 s of decoding on one core).
inline std::string SlowestAllowedJpeg() {
  const std::string noise = NoisyJpeg(1024, 1024, true);
  return RepeatLastScan(noise, 65 - CountScans(noise));
}

} // namespace kestrane::hostile
