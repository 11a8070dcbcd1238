#pragma once
#include <string>

namespace kestrane::test {

// Bodies of the kinds a tile service may send.
// A baseline or progressive JPEG with a picture in it (gradients, so the
// entropy-coded data is not trivial).
std::string WorkerJpeg(int width = 256, int height = 256,
                       bool progressive = false);
// The JPEG cut off halfway through its entropy-coded data (after the
// first start-of-scan).
std::string WorkerJpegCutInScan(const std::string &jpeg);
// The JPEG cut off before its first start-of-scan: no image data at all.
std::string WorkerJpegCutBeforeScan(const std::string &jpeg);
// A PNG signature and a few bytes (not a decodable PNG: PNG bodies are not
// decoded).
std::string WorkerPngBody();
std::string WorkerGifBody();
// The placeholder file the workers copy, from the bundle.
std::string WorkerBlankBytes();

} // namespace kestrane::test
