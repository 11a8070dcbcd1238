#pragma once
#include <string_view>

namespace kestrane {

// What a body announces by its first two bytes: 89 50 a PNG, FF D8 a JPEG.
// Only the announcement: whether the rest is sound is for the checks below.
enum class ImageSignature { None, Png, Jpeg };
ImageSignature SignatureOf(std::string_view bytes);

// The picture the JPEG check makes of the decoded data: the whole one, or
// one an eighth as wide and high. Either way every block's coefficients are
// read and decoded, so a body fails or passes alike; the eighth saves most
// of the inverse transform and colour work, about half the time.
enum class JpegPicture { Whole, Eighth };

// True when the bytes decode completely as a JPEG image with libjpeg-turbo.
// Only the decoder's errors fail; its warnings (such as data that ends early
// after the image data began) are ignored. A picture wider or taller than
// 4096 pixels, with more than 64 scans, or needing more than 16 MiB of the
// decoder's working memory fails too: the time and memory one body costs
// are bounded.
bool JpegDecodes(std::string_view bytes,
                 JpegPicture picture = JpegPicture::Whole);

// The body check shared by the workers and the re-download run: a PNG
// signature (89 50) or a JPEG (FF D8) that decodes.
bool BodyIsImage(std::string_view bytes,
                 JpegPicture picture = JpegPicture::Whole);

// The eight-byte PNG signature, then the IHDR chunk with its 13 bytes: a
// width and height that are not zero (and fit 31 bits), a bit depth and
// colour type that go together, the one compression and filter method, one
// of the two interlace methods.
bool PngHeaderIsSound(std::string_view bytes);

// The inventory's check of a stored tile file: a JPEG must decode as the
// workers' check decodes it; a PNG must carry a sound header. Anything else
// is not a tile.
bool StoredTileIsImage(std::string_view bytes);

} // namespace kestrane
