#include "tile/TileCheck.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/support/HostileJpeg.h"
#include "tests/support/HostileTiles.h"
#include "tests/support/TileBodies.h"

namespace kestrane {
namespace {

using test::WorkerJpeg;

TEST(TileCheckTest, SignatureIsTheFirstTwoBytesOnly) {
  const struct {
    const char *what;
    std::string bytes;
    ImageSignature want;
  } cases[] = {
      {"JPEG start of image", std::string("\xFF\xD8", 2), ImageSignature::Jpeg},
      {"a whole JPEG", WorkerJpeg(8, 8), ImageSignature::Jpeg},
      {"PNG's first two", "\x89P", ImageSignature::Png},
      {"a whole PNG", test::WorkerPngBody(), ImageSignature::Png},
      {"FF alone", "\xFF", ImageSignature::None},
      {"89 alone", "\x89", ImageSignature::None},
      {"FF D9 is an end, not a start", "\xFF\xD9", ImageSignature::None},
      {"89 and a lower-case p", "\x89p", ImageSignature::None},
      {"D8 FF swapped", "\xD8\xFF", ImageSignature::None},
      {"GIF", test::WorkerGifBody(), ImageSignature::None},
      {"empty", "", ImageSignature::None},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(SignatureOf(c.bytes), c.want);
  }
}

TEST(TileCheckTest, Bodies) {
  const std::string jpeg = WorkerJpeg();
  const std::string progressive = WorkerJpeg(256, 256, true);
  const std::string blank = test::WorkerBlankBytes();
  ASSERT_FALSE(blank.empty()) << "the bundle has no blankimg/blank180.jpg";
  struct Case {
    const char *what;
    std::string body;
    bool image;
  };
  const Case cases[] = {
      {"a whole baseline tile", jpeg, true},
      {"a whole progressive tile", progressive, true},
      {"the shipped placeholder decodes", blank, true},
      // The decoder's premature-end warning: the rest would be grey.
      {"cut short in the image data", test::WorkerJpegCutInScan(jpeg), false},
      {"progressive cut in its first scan",
       test::WorkerJpegCutInScan(progressive), false},
      {"whole but for its end marker", jpeg.substr(0, jpeg.size() - 2), false},
      {"cut before any image data", test::WorkerJpegCutBeforeScan(jpeg), false},
      {"FF D8 and then text", std::string("\xFF\xD8", 2) + "hello world",
       false},
      {"FF D8 alone", std::string("\xFF\xD8", 2), false},
      {"a PNG signature is taken without decoding", test::WorkerPngBody(),
       true},
      {"89 50 alone is enough", "\x89P", true},
      {"GIF", test::WorkerGifBody(), false},
      {"one byte", "\xFF", false},
      {"empty", "", false},
      {"JPEG bytes after a leading junk byte", " " + jpeg, false},
      {"a header with a huge picture size is refused, not decoded",
       [] {
         // A 16 x 16 JPEG whose frame header claims 65000 x 65000.
         std::string j = WorkerJpeg(16, 16);
         for (size_t i = 2; i + 8 < j.size(); ++i)
           if (static_cast<unsigned char>(j[i]) == 0xFF &&
               static_cast<unsigned char>(j[i + 1]) == 0xC0) {
             j[i + 5] = j[i + 7] = static_cast<char>(0xFD);
             j[i + 6] = j[i + 8] = static_cast<char>(0xE8);
             break;
           }
         return j;
       }(),
       false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(BodyIsImage(c.body), c.image);
  }
}

// A hostile body costs bounded time and memory: too large a picture, too
// many scans or too much of the decoder's memory fail as a decoding error.
TEST(TileCheckTest, HostilePicturesAreRefused) {
  const std::string progressive = WorkerJpeg(256, 256, true);
  const int scans = hostile::CountScans(progressive);
  ASSERT_GT(scans, 1);
  struct Case {
    const char *what;
    std::string body;
    bool decodes;
  };
  const Case cases[] = {
      {"4096 wide: the largest side taken", WorkerJpeg(4096, 8), true},
      {"4097 wide", WorkerJpeg(4097, 8), false},
      {"4097 high", WorkerJpeg(8, 4097), false},
      {"8000 x 8000 progressive, refused at its header",
       hostile::FlatProgressiveJpeg(8000, 8000), false},
      {"64 scans", hostile::RepeatLastScan(progressive, 64 - scans + 1), true},
      {"65 scans", hostile::RepeatLastScan(progressive, 65 - scans + 1), false},
      {"a flat 4096 x 4096 whose last scan repeats 1000 times",
       hostile::RepeatLastScan(hostile::FlatProgressiveJpeg(4096, 4096), 1000),
       false},
      // A baseline picture is decoded row by row in little memory...
      {"baseline 4096 x 4096", hostile::SmoothJpeg(4096, 4096, false), true},
      // ...a progressive one needs all its coefficients at once: 24 MiB.
      {"progressive 4096 x 2048 needs more than 16 MiB",
       hostile::SmoothJpeg(4096, 2048, true), false},
      {"progressive 1024 x 1024", hostile::SmoothJpeg(1024, 1024, true), true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(JpegDecodes(c.body), c.decodes);
  }
}

TEST(TileCheckTest, JpegDecodesDoesNotTakePng) {
  // The decoder is only for JPEG bytes: a PNG is no JPEG.
  EXPECT_FALSE(JpegDecodes(test::WorkerPngBody()));
  EXPECT_TRUE(JpegDecodes(WorkerJpeg(17, 9))); // odd sizes, partial MCUs
}

TEST(TileCheckTest, LargerPicturesAfterSmallOnesOnOneThread) {
  // The scanline buffer is reused per thread; it must grow for a wider
  // picture and not overrun.
  EXPECT_TRUE(JpegDecodes(WorkerJpeg(8, 8)));
  EXPECT_TRUE(JpegDecodes(WorkerJpeg(1024, 16)));
  EXPECT_TRUE(JpegDecodes(WorkerJpeg(8, 8)));
}

TEST(TileCheckTest, ThreadsDecodeAtOnce) {
  const std::string jpeg = WorkerJpeg();
  const std::string bad = std::string("\xFF\xD8", 2) + "garbage";
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i)
        if (!JpegDecodes(jpeg) || JpegDecodes(bad))
          ++wrong;
    });
  for (auto &t : threads)
    t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// The first start-of-scan marker's place in a JPEG, for the cases below.
size_t FirstScan(const std::string &jpeg) {
  const size_t at = jpeg.find(std::string("\xFF\xDA", 2));
  return at == std::string::npos ? 0 : at;
}

// The check of the compressed data alone reaches the full decoding's
// verdict on every kind of body: whole, cut short, damaged in its data,
// with too many scans, too large or too costly for the bounds.
TEST(TileCheckTest, DataCheckAgreesWithTheFullDecoding) {
  const std::string jpeg = WorkerJpeg();
  const std::string progressive = WorkerJpeg(256, 256, true);
  struct Case {
    std::string what;
    std::string body;
    bool decodes;
  };
  std::vector<Case> cases = {
      {"a whole baseline tile", jpeg, true},
      {"a whole progressive tile", progressive, true},
      {"odd sizes, partial MCUs", WorkerJpeg(17, 9), true},
      {"cut short in the image data", test::WorkerJpegCutInScan(jpeg), false},
      {"progressive cut in its first scan",
       test::WorkerJpegCutInScan(progressive), false},
      {"whole but for its end marker", jpeg.substr(0, jpeg.size() - 2), false},
      {"cut before any image data", test::WorkerJpegCutBeforeScan(jpeg), false},
      // An end marker where data should be: the decoder warns of corrupt
      // data and decodes the rest as grey, which the workers' check takes
      // (only data that ends before the file does is refused).
      {"an end marker in the middle of the data",
       jpeg.substr(0, (FirstScan(jpeg) + jpeg.size()) / 2) +
           std::string("\xFF\xD9", 2),
       true},
      {"progressive, an end marker in a later scan",
       progressive.substr(0, progressive.size() * 3 / 4) +
           std::string("\xFF\xD9", 2),
       true},
      {"FF D8 and then text", std::string("\xFF\xD8", 2) + "hello world",
       false},
      {"a PNG is no JPEG", test::WorkerPngBody(), false},
      {"empty", "", false},
  };
  for (test::HostileBody &h : test::HostileBodies())
    cases.push_back({h.What, std::move(h.Bytes), h.Decodes});
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(JpegDecodes(c.body), c.decodes);
    EXPECT_EQ(JpegDataDecodes(c.body), c.decodes);
  }
}

// Bytes of the compressed data overwritten, at places all along it, in a
// baseline and a progressive tile: whatever the full decoding says of each
// (a corrupt-data warning, a bad Huffman code, a marker where none belongs,
// or nothing at all), the check of the data alone says the same.
TEST(TileCheckTest, DataCheckAgreesOnDamagedData) {
  int refused = 0, compared = 0;
  for (const std::string &whole : {WorkerJpeg(), WorkerJpeg(256, 256, true)}) {
    const size_t begin = FirstScan(whole) + 16, end = whole.size() - 2;
    ASSERT_LT(begin, end);
    for (int k = 0; k < 60; ++k) {
      std::string body = whole;
      const size_t at = begin + (end - begin) * static_cast<size_t>(k) / 60;
      for (size_t i = at; i < std::min(at + 4, end); ++i)
        body[i] = static_cast<char>(k % 2 == 0 ? 0xFF : 0x5A + k);
      SCOPED_TRACE(at);
      const bool full = JpegDecodes(body);
      EXPECT_EQ(JpegDataDecodes(body), full);
      refused += full ? 0 : 1;
      ++compared;
    }
  }
  // The damage is not all harmless: the comparison saw refusals.
  EXPECT_GT(refused, 0);
  EXPECT_EQ(compared, 120);
}

} // namespace
} // namespace kestrane
