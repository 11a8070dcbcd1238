#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/NumberFormat.h"
#include "task/DownloadTask.h"

namespace kestrane {
namespace {

constexpr uint64_t kTenPow14 = 100000000000000ULL;

// Beyond this magnitude the integer part may not fit the fast path's
// 64-bit arithmetic; the tile list never comes near it (degrees).
constexpr double kFastLimit = 1e9;

// The 14 decimals of the fraction fbits / 2^shift, rounded to nearest with
// ties to even, as printf rounds the exact binary value. May return 10^14
// (a carry into the integer part).
uint64_t RoundedFraction(uint64_t fbits, int shift) {
  if (shift == 0)
    return 0;
  // fbits < 2^53 and 10^14 < 2^47, so the product stays below 2^100; from a
  // shift of 101 on it lies below half a unit and rounds to 0.
  if (shift > 100)
    return 0;
  const unsigned __int128 p = static_cast<unsigned __int128>(fbits) * kTenPow14;
  unsigned __int128 q = p >> shift;
  const unsigned __int128 rem = p - (q << shift);
  const unsigned __int128 half = static_cast<unsigned __int128>(1)
                                 << (shift - 1);
  if (rem > half || (rem == half && (q & 1) != 0))
    ++q;
  return static_cast<uint64_t>(q);
}

} // namespace

void AppendFixed20_14(std::string &out, double value) {
  if (!std::isfinite(value) || std::fabs(value) >= kFastLimit) {
    out += FormatFixed20_14(value);
    return;
  }
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = (bits >> 63) != 0; // printf keeps the sign of -0.0
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  // value = mantissa * 2^exponent
  int exponent = -1074;
  if (biased != 0) {
    mantissa |= uint64_t{1} << 52;
    exponent = biased - 1075;
  }

  uint64_t whole = 0;
  uint64_t fraction = 0;
  if (exponent >= 0) {
    whole = mantissa << exponent; // below 1e9, see kFastLimit
  } else {
    const int shift = -exponent;
    uint64_t fbits = mantissa;
    if (shift < 64) {
      whole = mantissa >> shift;
      fbits = mantissa & ((uint64_t{1} << shift) - 1);
    }
    fraction = RoundedFraction(fbits, shift);
    if (fraction == kTenPow14) {
      fraction = 0;
      ++whole;
    }
  }

  // Built right to left: 14 decimals, the point, the whole digits, the sign.
  char buf[32];
  char *end = buf + sizeof buf;
  char *p = end;
  for (int i = 0; i < 14; ++i) {
    *--p = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  *--p = '.';
  do {
    *--p = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  if (negative)
    *--p = '-';
  const size_t length = static_cast<size_t>(end - p);
  if (length < 20)
    out.append(20 - length, ' ');
  out.append(p, length);
}

} // namespace kestrane
