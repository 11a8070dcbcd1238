#include "tile/JpegBounds.h"

#include <cstddef>
#include <type_traits>

namespace kestrane {

namespace {

static_assert(std::is_standard_layout_v<JpegBounds> &&
              offsetof(JpegBounds, Progress) == 0);

// Called by the decoder as it reads each row of blocks and each part of the
// input.
void OnProgress(j_common_ptr cinfo) {
  auto *bounds = reinterpret_cast<JpegBounds *>(cinfo->progress);
  if (bounds->Cancel != nullptr && bounds->Cancel->Requested()) {
    bounds->Cancelled = true;
    LeaveJpegDecoding(cinfo);
  }
  if (!cinfo->is_decompressor)
    return;
  auto *d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxJpegScans)
    LeaveJpegDecoding(cinfo);
}

} // namespace

void BoundJpegDecoding(jpeg_decompress_struct &cinfo, JpegBounds &bounds) {
  bounds.Progress.progress_monitor = OnProgress;
  bounds.Cancelled = false;
  cinfo.progress = &bounds.Progress;
  cinfo.mem->max_memory_to_use = kMaxJpegDecoderMemory;
}

bool JpegSidesWithinBounds(const jpeg_decompress_struct &cinfo) {
  return cinfo.image_width <= kMaxJpegSide &&
         cinfo.image_height <= kMaxJpegSide;
}

} // namespace kestrane
