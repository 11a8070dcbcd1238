#include "tile/JpegErrors.h"

#include <jerror.h>

namespace kestrane {

namespace {

// A warning has level -1; trace messages have 0 and above. Data that ends
// before the picture does leaves like an error; every other message is
// ignored.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
    LeaveJpegDecoding(cinfo);
}

} // namespace

[[noreturn]] void LeaveJpegDecoding(j_common_ptr cinfo) {
  auto *err = reinterpret_cast<JpegErrorManager *>(cinfo->err);
  std::longjmp(err->jump, 1);
}

jpeg_error_mgr *InstallJpegErrors(JpegErrorManager &err) {
  jpeg_error_mgr *pub = jpeg_std_error(&err.pub);
  err.pub.error_exit = LeaveJpegDecoding;
  err.pub.emit_message = OnMessage;
  return pub;
}

void InstallJpegErrors(jpeg_decompress_struct &cinfo, JpegErrorManager &err) {
  cinfo.err = InstallJpegErrors(err);
}

} // namespace kestrane
