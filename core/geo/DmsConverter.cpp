#include "geo/DmsConverter.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "platform/NumberFormat.h"

namespace kestrane {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Length of the run of digits at text[i...].
size_t Digits(std::string_view text, size_t i) {
  size_t n = 0;
  while (i + n < text.size() && IsDigit(text[i + n]))
    ++n;
  return n;
}

// The decimal exponent of the leading significant digit of
// whole.fraction E exponent (1 for "5", 0 for "0.5", -1 for "0.05"):
// positive for a number whose magnitude is at least 1. Used only when the
// value is out of the double range, to tell overflow from underflow.
long long Magnitude(std::string_view whole, std::string_view fraction,
                    long long exponent) {
  const size_t firstWhole = whole.find_first_not_of('0');
  if (firstWhole != std::string_view::npos)
    return static_cast<long long>(whole.size() - firstWhole) + exponent;
  const size_t firstFraction = fraction.find_first_not_of('0');
  if (firstFraction == std::string_view::npos)
    return -1; // zero: never out of range, but count it as tiny
  return -static_cast<long long>(firstFraction) + exponent;
}

} // namespace

double LenientStrToFloat(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t start = i;
  const size_t whole = Digits(text, i);
  i += whole;
  size_t fraction = 0;
  if (i < text.size() && text[i] == '.') {
    fraction = Digits(text, i + 1);
    if (whole > 0 || fraction > 0)
      i += 1 + fraction;
  }
  if (whole == 0 && fraction == 0)
    return 0; // no number at the start: "abc", "", ".", "-"
  // An exponent counts only when digits follow the "E" and its sign.
  long long exponentValue = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    bool negativeExponent = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
      negativeExponent = text[j] == '-';
      ++j;
    }
    const size_t exponentDigits = Digits(text, j);
    if (exponentDigits > 0) {
      for (size_t k = j; k < j + exponentDigits && exponentValue < 100000; ++k)
        exponentValue = exponentValue * 10 + (text[k] - '0');
      if (negativeExponent)
        exponentValue = -exponentValue;
      i = j + exponentDigits;
    }
  }
  const std::string_view number = text.substr(start, i - start);
  double value = 0;
  const auto result =
      std::from_chars(number.data(), number.data() + number.size(), value,
                      std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    const std::string_view wholeDigits = text.substr(start, whole);
    const std::string_view fractionDigits =
        fraction > 0 ? text.substr(start + whole + 1, fraction)
                     : std::string_view();
    value = Magnitude(wholeDigits, fractionDigits, exponentValue) > 0 ? HUGE_VAL
                                                                      : 0.0;
  }
  return negative ? -value : value;
}

std::optional<std::string> ConvertDegrees(std::string_view degrees,
                                          std::string_view minutes,
                                          std::string_view seconds,
                                          char decimalSeparator) {
  const std::optional<int32_t> d = StrToIntStrict(degrees);
  if (!d)
    return std::nullopt;
  const std::optional<int32_t> m = StrToIntStrict(minutes);
  if (!m)
    return std::nullopt;
  const float s = static_cast<float>(LenientStrToFloat(seconds));
  // The two factors and the sum in extended precision, then one rounding to
  // single precision: this is what gives 12.5083332061768 for 12 30 30.
  const long double sum = static_cast<long double>(*d) +
                          static_cast<long double>(*m) * (1.0L / 60) +
                          static_cast<long double>(s) * (1.0L / 3600);
  const float result = static_cast<float>(sum);
  if (!std::isfinite(result))
    return std::nullopt;
  return FormatGeneral(static_cast<double>(result), decimalSeparator);
}

} // namespace kestrane
