#include "platform/NumberFormat.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>

namespace kestrane {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// The value rounded to 15 significant digits, as digit string and decimal
// exponent: value = 0.d1d2d3... * 10^(exponent + 1), i.e. d1 stands at
// 10^exponent. Trailing zeros are removed from the digits.
struct Rounded15 {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

Rounded15 RoundTo15(double value) {
  // "%.14e" gives exactly 15 significant digits, correctly rounded; to_chars
  // does it without looking at the locale.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value,
                           std::chars_format::scientific, 14);
  std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
  Rounded15 r;
  size_t i = 0;
  if (text[i] == '-') {
    r.negative = true;
    ++i;
  }
  for (; i < text.size() && text[i] != 'e'; ++i)
    if (IsDigit(text[i]))
      r.digits.push_back(text[i]);
  // text[i] == 'e', followed by a sign and at least two digits.
  std::string_view exp = text.substr(i + 1);
  bool expNegative = exp.front() == '-';
  int e = 0;
  std::from_chars(exp.data() + 1, exp.data() + exp.size(), e);
  r.exponent = expNegative ? -e : e;
  while (r.digits.size() > 1 && r.digits.back() == '0')
    r.digits.pop_back();
  return r;
}

std::string PlainText(const Rounded15 &r, char sep) {
  std::string out = r.negative ? "-" : "";
  const int n = static_cast<int>(r.digits.size());
  if (r.exponent < 0) {
    out += '0';
    out += sep;
    out.append(static_cast<size_t>(-r.exponent - 1), '0');
    out += r.digits;
    return out;
  }
  const int intDigits = r.exponent + 1;
  if (n <= intDigits) {
    out += r.digits;
    out.append(static_cast<size_t>(intDigits - n), '0');
    return out;
  }
  out.append(r.digits, 0, static_cast<size_t>(intDigits));
  out += sep;
  out.append(r.digits, static_cast<size_t>(intDigits));
  return out;
}

std::string ScientificText(const Rounded15 &r, char sep) {
  std::string out = r.negative ? "-" : "";
  out += r.digits[0];
  if (r.digits.size() > 1) {
    out += sep;
    out.append(r.digits, 1);
  }
  out += 'E';
  out += std::to_string(r.exponent);
  return out;
}

} // namespace

std::string FormatGeneral(double value, char decimalSeparator) {
  if (std::isnan(value))
    return "NAN";
  if (std::isinf(value))
    return value < 0 ? "-INF" : "INF";
  if (value == 0) // also -0.0, which has no sign in this format
    return "0";
  // The notation follows the rounded value: 9.99999999999999999e14 rounds to
  // 1E15 and so is written in scientific notation.
  Rounded15 r = RoundTo15(value);
  if (r.exponent >= -4 && r.exponent < 15)
    return PlainText(r, decimalSeparator);
  return ScientificText(r, decimalSeparator);
}

std::string FormatFixed20_14(double value) {
  // Large enough for the widest double in fixed notation (309 digits).
  char buf[400];
  auto res =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 14);
  std::string text(buf, res.ptr);
  if (text.size() < 20)
    text.insert(0, 20 - text.size(), ' ');
  return text;
}

std::string ShortestText(double value) {
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, res.ptr);
}

void AppendInt(std::string &out, int64_t value) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

std::string GroupDigits(int64_t value) {
  std::string digits;
  AppendInt(digits, value);
  const size_t sign = digits[0] == '-' ? 1 : 0;
  std::string out = digits.substr(0, sign);
  for (size_t i = sign; i < digits.size(); ++i) {
    if (i > sign && (digits.size() - i) % 3 == 0)
      out += ',';
    out += digits[i];
  }
  return out;
}

char UserDecimalSeparator() {
  const std::lconv *conv = std::localeconv();
  if (conv == nullptr || conv->decimal_point == nullptr ||
      conv->decimal_point[0] == '\0')
    return '.';
  return conv->decimal_point[0];
}

std::optional<int32_t> StrToIntStrict(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsBlank(text[i]))
    ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == '0' &&
             (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == n)
    return std::nullopt; // no digits at all
  if (hex) {
    uint64_t v = 0;
    for (; i < n; ++i) {
      int d = HexDigitValue(text[i]);
      if (d < 0)
        return std::nullopt;
      v = v * 16 + static_cast<uint64_t>(d);
      if (v > 0xFFFFFFFFu)
        return std::nullopt;
    }
    // Hexadecimal texts cover the 32 bits unsigned and are taken as the bit
    // pattern, so $FFFFFFFF is -1; a sign negates in 32-bit arithmetic.
    uint32_t bits = static_cast<uint32_t>(v);
    if (negative)
      bits = 0u - bits;
    return static_cast<int32_t>(bits);
  }
  uint64_t v = 0;
  for (; i < n; ++i) {
    if (!IsDigit(text[i]))
      return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    if (v > 2147483648u)
      return std::nullopt;
  }
  if (negative)
    return static_cast<int32_t>(-static_cast<int64_t>(v));
  if (v > 2147483647u)
    return std::nullopt;
  return static_cast<int32_t>(v);
}

std::optional<double> StrToFloatStrict(std::string_view text) {
  // The accepted form is checked here; from_chars alone would also take
  // "inf", "nan" and stop early without saying so.
  size_t i = 0;
  const size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-'))
    ++i;
  const size_t numberStart = (n > 0 && text[0] == '+') ? 1 : 0;
  size_t digits = 0;
  while (i < n && IsDigit(text[i])) {
    ++i;
    ++digits;
  }
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) {
      ++i;
      ++digits;
    }
  }
  if (digits == 0)
    return std::nullopt;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-'))
      ++i;
    size_t expDigits = 0;
    while (i < n && IsDigit(text[i])) {
      ++i;
      ++expDigits;
    }
    if (expDigits == 0)
      return std::nullopt;
  }
  if (i != n)
    return std::nullopt;
  double value = 0;
  auto res = std::from_chars(text.data() + numberStart, text.data() + n, value,
                             std::chars_format::general);
  if (res.ec != std::errc() || res.ptr != text.data() + n)
    return std::nullopt;
  return value;
}

} // namespace kestrane
