#pragma once
// clang-format off
#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE declared first
#include <jpeglib.h>
// clang-format on

namespace kestrane {

// The libjpeg-turbo error handling of every decoding and encoding in the
// program (the workers' check, the viewer, the joiner): an error of the
// codec leaves the decoding or encoding at once by a long jump to `jump`. So
// does the decoder's warning that the data ends before the picture does
// (JWRN_JPEG_EOF): a tile that arrived cut short would otherwise decode with
// the missing part filled in grey and pass for whole. Its other warnings
// (extraneous bytes, a corrupt segment it can step over) and the trace
// messages are ignored. The function that decodes or encodes calls
// setjmp(jump) itself and holds no object with a destructor while the
// decoder runs.
struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

// Sets `err` up as described above; the result goes into a decompressor's
// or a compressor's `err`.
jpeg_error_mgr *InstallJpegErrors(JpegErrorManager &err);

// Points cinfo's error handling at `err`, set up as described above.
void InstallJpegErrors(jpeg_decompress_struct &cinfo, JpegErrorManager &err);

// The error exit of JpegErrorManager: the long jump to its `jump`.
[[noreturn]] void LeaveJpegDecoding(j_common_ptr cinfo);

} // namespace kestrane
