// The number readers and the general number format. Each input is used
// twice: as text for the readers, and as a source of values whose text forms
// must read back.
#include "fuzz/FuzzTemp.h"
#include "geo/DmsConverter.h"
#include "platform/NumberFormat.h"
#include "task/TaskInput.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using kestrane::fuzz::Fail;

bool OnlyDecimalInteger(const std::string &t) {
  size_t i = 0;
  while (i < t.size() && (t[i] == ' ' || t[i] == '\t'))
    ++i;
  if (i < t.size() && (t[i] == '+' || t[i] == '-'))
    ++i;
  if (i == t.size())
    return false;
  for (; i < t.size(); ++i)
    if (t[i] < '0' || t[i] > '9')
      return false;
  return true;
}

void CheckIntegerText(const std::string &text) {
  std::optional<int32_t> v = kestrane::StrToIntStrict(text);
  if (!v || !OnlyDecimalInteger(text))
    return;
  errno = 0;
  long long ref = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == 0 && ref != *v)
    Fail("StrToIntStrict disagrees with strtoll on a decimal text");
}

void CheckIntegerValue(int64_t w) {
  const std::string t = std::to_string(w);
  std::optional<int32_t> v = kestrane::StrToIntStrict(t);
  const bool fits = w >= INT32_MIN && w <= INT32_MAX;
  if (fits != v.has_value())
    Fail("StrToIntStrict range check is wrong");
  if (fits && *v != w)
    Fail("StrToIntStrict misreads a decimal value");
  if (kestrane::StrToIntStrict(t + "x") || kestrane::StrToIntStrict(t + "."))
    Fail("StrToIntStrict accepts text after the number");
  if (fits) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "$%X",
                  static_cast<unsigned>(static_cast<uint32_t>(w)));
    std::optional<int32_t> h = kestrane::StrToIntStrict(hex);
    if (!h || *h != w)
      Fail("StrToIntStrict misreads a $ hexadecimal bit pattern");
  }
}

void CheckFloatText(const std::string &text) {
  std::optional<double> v = kestrane::StrToFloatStrict(text);
  if (!v)
    return;
  if (text.find_first_of(" \t\n\r\f\v") != std::string::npos)
    Fail("StrToFloatStrict accepts blanks");
  // strtod reads a superset; in the C locale it must agree on the value.
  char *end = nullptr;
  double ref = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size())
    Fail("StrToFloatStrict accepts what strtod stops in");
  if (!(std::isnan(ref) && std::isnan(*v)) && ref != *v)
    Fail("StrToFloatStrict disagrees with strtod");
}

// The task fields' coordinate reader: "," and "." both the point, the whole
// text one finite number.
void CheckCoordinate(const std::string &text) {
  std::optional<double> v = kestrane::ReadCoordinate(text);
  std::string dotted = text;
  for (char &c : dotted)
    if (c == ',')
      c = '.';
  std::optional<double> ref = kestrane::StrToFloatStrict(dotted);
  if (v && !std::isfinite(*v))
    Fail("ReadCoordinate accepts a value that is not finite");
  if (ref && std::isfinite(*ref) && (!v || *v != *ref))
    Fail("ReadCoordinate refuses or misreads a plain number");
  if (v && (!ref || *ref != *v))
    Fail("ReadCoordinate accepts what is not one number");
}

// The converter's lenient seconds reader agrees with the strict reader on
// every text that is one number, and ignores what follows a number.
void CheckLenient(const std::string &text) {
  const double lenient = kestrane::LenientStrToFloat(text);
  std::optional<double> strict = kestrane::StrToFloatStrict(text);
  if (strict && std::isfinite(*strict) && lenient != *strict)
    Fail("LenientStrToFloat misreads a plain number");
  if (strict && std::isfinite(*strict) &&
      kestrane::LenientStrToFloat(text + "#x") != lenient)
    Fail("LenientStrToFloat reads beyond the number");
}

// Degrees, minutes and seconds: the two separators give the same text, and
// the text reads back as D + M/60 + S/3600 to single precision.
void CheckConverter(const std::string &d, const std::string &m,
                    const std::string &s) {
  std::optional<std::string> dot = kestrane::ConvertDegrees(d, m, s, '.');
  std::optional<std::string> comma = kestrane::ConvertDegrees(d, m, s, ',');
  if (dot.has_value() != comma.has_value())
    Fail("the separator changes whether a conversion succeeds");
  if (!dot)
    return;
  std::string commaAsDot = *comma;
  for (char &c : commaAsDot)
    if (c == ',')
      c = '.';
  if (commaAsDot != *dot)
    Fail("the separator changes more than the separator");
  std::optional<double> shown = kestrane::StrToFloatStrict(*dot);
  if (!shown)
    Fail("a converted value does not read back");
  std::optional<int32_t> di = kestrane::StrToIntStrict(d);
  std::optional<int32_t> mi = kestrane::StrToIntStrict(m);
  if (!di || !mi)
    Fail("a conversion succeeded without whole degrees and minutes");
  const double sec = static_cast<float>(kestrane::LenientStrToFloat(s));
  const double want = *di + *mi / 60.0 + sec / 3600.0;
  if (std::isfinite(want) && std::fabs(want) < 1e30 &&
      std::fabs(*shown - want) > 1e-6 * std::fabs(want) + 1e-6)
    Fail("the converted value is not D + M/60 + S/3600");
}

void CheckFormat(double d) {
  const std::string g = kestrane::FormatGeneral(d, '.');
  const std::string c = kestrane::FormatGeneral(d, ',');
  std::string cAsDot = c;
  for (char &ch : cAsDot)
    if (ch == ',')
      ch = '.';
  if (cAsDot != g)
    Fail("the separator changes more than the separator");
  if (g.size() > 24)
    Fail("general format longer than 15 digits need");
  if (!std::isfinite(d))
    return;
  const size_t e = g.find('E');
  const std::string mantissa = g.substr(0, e);
  if (mantissa.find('.') != std::string::npos && mantissa.back() == '0')
    Fail("general format keeps a trailing zero");
  if (mantissa.back() == '.')
    Fail("general format ends in a separator");
  if (!std::isnormal(d) || std::fabs(d) > 1e300)
    return; // 15 digits of the extremes may round past the double range
  std::optional<double> back = kestrane::StrToFloatStrict(g);
  if (!back)
    Fail("general format does not read back");
  if (std::fabs(*back - d) > std::fabs(d) * 1e-14)
    Fail("general format loses more than 15 digits");
  // Whole values below 1E15 are written without a separator or exponent.
  if (d == std::trunc(d) && std::fabs(d) < 1e15 &&
      g.find_first_of(".E") != std::string::npos)
    Fail("a whole value written with a separator or exponent");

  const std::string f = kestrane::FormatFixed20_14(d);
  if (f.size() < 20 || f.find(',') != std::string::npos)
    Fail("fixed format too short or locale dependent");
  if (std::fabs(d) < 1000 && f.size() != 20)
    Fail("fixed format of a degree value is not 20 wide");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  CheckIntegerText(text);
  CheckFloatText(text);
  CheckCoordinate(text);
  CheckLenient(text);

  FuzzedDataProvider in(data, size);
  CheckIntegerValue(in.ConsumeIntegral<int64_t>());
  CheckIntegerValue(
      in.ConsumeIntegralInRange<int64_t>(-3000000000LL, 3000000000LL));
  double d;
  uint64_t bits = in.ConsumeIntegral<uint64_t>();
  std::memcpy(&d, &bits, sizeof d);
  CheckFormat(d);
  CheckFormat(in.ConsumeFloatingPointInRange<double>(-180.0, 180.0));
  const std::string deg = in.ConsumeRandomLengthString(12);
  const std::string min = in.ConsumeRandomLengthString(12);
  CheckConverter(deg, min, in.ConsumeRemainingBytesAsString());
  return 0;
}
