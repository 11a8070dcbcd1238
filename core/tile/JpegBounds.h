#pragma once
#include "platform/StopSignal.h"
#include "tile/JpegErrors.h"

namespace kestrane {

// The bounds of every decoding of a tile in the program: the workers' image
// check, the inventory's, and the joiner's and the viewer's decoding. A tile
// is 256 x 256; a picture wider or taller than kMaxJpegSide, with more than
// kMaxJpegScans scans, or needing more than kMaxJpegDecoderMemory of the
// decoder's working memory is not a tile but one made to exhaust memory and
// time, and its decoding fails as a decoding error does. So the time and
// memory one body costs are bounded, whoever decodes it.
inline constexpr unsigned kMaxJpegSide = 4096;
// Every scan makes the decoder walk the whole picture once more, for as few
// as a hundred bytes of input; a progressive tile has about ten.
inline constexpr int kMaxJpegScans = 64;
// The coefficient buffers of progressive and multi-scan pictures: eight
// decoding threads at once stay well inside a small machine's memory.
inline constexpr long kMaxJpegDecoderMemory = 16L * 1024 * 1024;

// The decoder's progress monitor for those bounds and for the stop request
// of the run that decodes: the decoding is left at the first scan over the
// limit, and within one row of blocks once `Cancel` is requested. Lives as
// long as the decompressor it is set on.
struct JpegBounds {
  jpeg_progress_mgr Progress{}; // first: the monitor finds the rest from it
  const StopFlag *Cancel = nullptr;
  bool Cancelled = false; // the decoding was left for Cancel
};

// Sets the bounds on a created decompressor whose error manager is a
// JpegErrorManager, before jpeg_read_header.
void BoundJpegDecoding(jpeg_decompress_struct &cinfo, JpegBounds &bounds);

// After jpeg_read_header: whether the picture's sides are within the bound.
bool JpegSidesWithinBounds(const jpeg_decompress_struct &cinfo);

} // namespace kestrane
