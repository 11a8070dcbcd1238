// The JPEG check that makes an eighth-size picture (the re-download's)
// passes and fails exactly the bodies the whole-picture check does.
#include <gtest/gtest.h>

#include "tests/support/HostileJpeg.h"
#include "tests/support/TileBodies.h"
#include "tile/TileCheck.h"

namespace kestrane {
namespace {

using test::WorkerJpeg;

TEST(EighthPicture, AgreesWithTheWholeCheck) {
  const std::string jpeg = WorkerJpeg();
  const std::string progressive = WorkerJpeg(256, 256, true);
  const int scans = hostile::CountScans(progressive);
  const std::pair<const char *, std::string> bodies[] = {
      {"baseline tile", jpeg},
      {"progressive tile", progressive},
      {"odd size, partial blocks", WorkerJpeg(17, 9)},
      {"the placeholder", test::WorkerBlankBytes()},
      {"cut in the image data", test::WorkerJpegCutInScan(jpeg)},
      {"progressive cut in its first scan",
       test::WorkerJpegCutInScan(progressive)},
      {"cut before any image data", test::WorkerJpegCutBeforeScan(jpeg)},
      {"FF D8 and text", std::string("\xFF\xD8", 2) + "hello world"},
      {"FF D8 alone", std::string("\xFF\xD8", 2)},
      {"4097 wide", WorkerJpeg(4097, 8)},
      {"64 scans", hostile::RepeatLastScan(progressive, 64 - scans + 1)},
      {"65 scans", hostile::RepeatLastScan(progressive, 65 - scans + 1)},
      {"progressive needing more than 16 MiB",
       hostile::SmoothJpeg(4096, 2048, true)},
      {"progressive 1024 x 1024", hostile::SmoothJpeg(1024, 1024, true)},
  };
  for (const auto &[what, body] : bodies) {
    SCOPED_TRACE(what);
    EXPECT_EQ(JpegDecodes(body, nullptr, JpegPicture::Eighth),
              JpegDecodes(body));
    EXPECT_EQ(BodyIsImage(body, JpegPicture::Eighth), BodyIsImage(body));
  }
}

} // namespace
} // namespace kestrane
