// Random bytes as a tile body: the JPEG check of the workers and the
// re-download run. Besides the sanitizers' findings it fails when
// - the body check and the worker's verdict disagree (a JPEG that decodes
//   is stored, one that does not is "crashed", other bytes are invalid);
// - a picture whose frame header declares a side over 4096 pixels is taken;
// - one check costs more than five seconds of CPU under the sanitizers (a
//   generous bound on what one hostile tile may cost; libFuzzer's own
//   time-out catches a hang).
#include "fuzz/FuzzTemp.h"
#include "tile/TileCheck.h"
#include "worker/FailurePolicy.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace {

using kestrane::fuzz::Fail;

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The largest side declared by the first frame header, walking the marker
// segments from the start of image; 0 when the walk meets anything else
// first (the decoder may then read on differently, so nothing is claimed).
unsigned DeclaredSide(std::string_view b) {
  auto at = [&](size_t i) { return static_cast<unsigned char>(b[i]); };
  size_t i = 2;
  while (i + 1 < b.size()) {
    if (at(i) != 0xFF)
      return 0;
    while (i + 1 < b.size() && at(i + 1) == 0xFF)
      ++i; // fill bytes
    if (i + 1 >= b.size())
      return 0;
    const unsigned m = at(i + 1);
    i += 2;
    if (m == 0x01 || (m >= 0xD0 && m <= 0xD7))
      continue; // no length
    if (m == 0xD8 || m == 0xD9 || m == 0xDA || m == 0x00)
      return 0;
    if (i + 1 >= b.size())
      return 0;
    const size_t len = (size_t{at(i)} << 8) | at(i + 1);
    const bool frame =
        m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
    if (frame) {
      if (len < 8 || i + 7 > b.size())
        return 0;
      const unsigned height = (unsigned{at(i + 3)} << 8) | at(i + 4);
      const unsigned width = (unsigned{at(i + 5)} << 8) | at(i + 6);
      return height > width ? height : width;
    }
    if (len < 2)
      return 0;
    i += len;
  }
  return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view body(reinterpret_cast<const char *>(data), size);
  const double cpu0 = ThreadCpuSeconds();
  const bool image = kestrane::BodyIsImage(body);
  const double cpu = ThreadCpuSeconds() - cpu0;
  if (cpu > 5.0)
    Fail("one body check cost more than five seconds of CPU");

  const bool jpeg = size >= 2 && data[0] == 0xFF && data[1] == 0xD8;
  const bool png = size >= 2 && data[0] == 0x89 && data[1] == 0x50;
  using kestrane::BodyVerdict;
  const BodyVerdict v = kestrane::CheckBody(body, 1);
  const BodyVerdict last = kestrane::CheckBody(body, 4);
  if (image != (v == BodyVerdict::Stored) ||
      (v == BodyVerdict::Stored && last != v))
    Fail("the body check and the worker's verdict disagree");
  if (!image && jpeg &&
      (v != BodyVerdict::CrashedRetry || last != BodyVerdict::CrashedGiveUp))
    Fail("a JPEG that does not decode is not crashed");
  if (!jpeg && !png && v != BodyVerdict::Invalid)
    Fail("neither PNG nor JPEG but not invalid");
  if (jpeg && image && DeclaredSide(body) > 4096)
    Fail("a picture over 4096 pixels a side was taken");
  return 0;
}
