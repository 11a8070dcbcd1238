#pragma once
#include <string_view>

#include "platform/StopSignal.h"

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
// The decoder's errors fail, and so does data that ends before the picture
// does (the decoder's premature-end warning): a tile cut short in transfer
// is no tile. Its other warnings are ignored. A picture wider or taller than
// 4096 pixels, with more than 64 scans, or needing more than 16 MiB of the
// decoder's working memory fails too (tile/JpegBounds.h): the time and
// memory one body costs are bounded. A request on `cancel` leaves the
// decoding within one row of blocks, and it fails.
bool JpegDecodes(std::string_view bytes, const StopFlag *cancel = nullptr,
                 JpegPicture picture = JpegPicture::Whole);

// The verdict of JpegDecodes on the same bytes, reached with less work.
// The decoder is set up as for that decoding, so every error of its set-up
// is met alike, and reads all the compressed data into its coefficients,
// so every error and warning of the data (the premature end among them)
// is met alike and the bounds and `cancel` hold alike; only the inverse
// DCT, the upsampling and the colour conversion, which raise none, are
// left out. A picture of one scan keeps its coefficients here, which the
// full decoding does not: within the decoder's memory bound they do not
// count against it, and a larger one is decoded in full instead.
bool JpegDataDecodes(std::string_view bytes, const StopFlag *cancel = nullptr);

// The body check shared by the workers and the re-download run: a PNG
// signature (89 50) or a JPEG (FF D8) that decodes.
bool BodyIsImage(std::string_view bytes,
                 JpegPicture picture = JpegPicture::Whole);

// The eight-byte PNG signature, then the IHDR chunk with its 13 bytes: a
// width and height that are not zero (and fit 31 bits), a bit depth and
// colour type that go together, the one compression and filter method, one
// of the two interlace methods.
bool PngHeaderIsSound(std::string_view bytes);

// A sound PNG header (as above) of a picture no wider or taller than a
// JPEG may be (tile/JpegBounds.h): the viewer decodes no larger PNG.
bool PngWithinBounds(std::string_view bytes);

// The inventory's check of a stored tile file: a JPEG must decode as the
// workers' check decodes it; a PNG must carry a sound header. Anything else
// is not a tile. `cancel` as for JpegDecodes.
bool StoredTileIsImage(std::string_view bytes,
                       const StopFlag *cancel = nullptr);

} // namespace kestrane
