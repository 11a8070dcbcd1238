#include "tile/JpegErrors.h"

namespace kestrane {

namespace {

// Warnings (data ending early, extraneous bytes) and trace messages.
void IgnoreMessage(j_common_ptr, int) {}

} // namespace

[[noreturn]] void LeaveJpegDecoding(j_common_ptr cinfo) {
  auto *err = reinterpret_cast<JpegErrorManager *>(cinfo->err);
  std::longjmp(err->jump, 1);
}

jpeg_error_mgr *InstallJpegErrors(JpegErrorManager &err) {
  jpeg_error_mgr *pub = jpeg_std_error(&err.pub);
  err.pub.error_exit = LeaveJpegDecoding;
  err.pub.emit_message = IgnoreMessage;
  return pub;
}

void InstallJpegErrors(jpeg_decompress_struct &cinfo, JpegErrorManager &err) {
  cinfo.err = InstallJpegErrors(err);
}

} // namespace kestrane
