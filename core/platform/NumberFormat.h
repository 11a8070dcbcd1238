#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrane {

// The general number format of the project file, the log and the converter:
// the shortest text that shows `value` to at most 15 significant digits, no
// trailing zeros, no separator for a whole value; plain notation when
// 0.0001 <= |value| and at most 15 digits stand before the separator,
// otherwise scientific ("5E-5", "1.5E20": mantissa, "E", exponent with a minus
// sign only when negative). `decimalSeparator` is the user's (passed in,
// never read from a global, so that tests can set it).
std::string FormatGeneral(double value, char decimalSeparator);

// The shortest text that reads back as exactly `value`, with "." whatever
// the locale ("0.1", "-122.342", "1e+21"): what files and messages give of
// a coordinate as it was read.
std::string ShortestText(double value);

// printf's "%20.14f", always with "." whatever the locale: fixed notation,
// 14 decimals, right-aligned in 20 characters.
std::string FormatFixed20_14(double value);

// Appends the decimal text of `value` (std::to_string's text) to `out`
// without a temporary string: tile names and the tile list are made of
// many such numbers.
void AppendInt(std::string &out, int64_t value);

// A count with its digits in groups of three: "1,570,646", "-12,000", "999".
// The windows and the command line show tile counts so, whatever the
// locale; files keep plain digits.
std::string GroupDigits(int64_t value);

// The decimal point of the C library's LC_NUMERIC (call after
// setlocale(LC_ALL, "")).
char UserDecimalSeparator();

// Strict whole-number conversion: optional leading blanks, optional sign,
// decimal digits, or hexadecimal after "$" or "0x"/"0X"; nothing after them;
// the value must fit in 32 bits. Empty or anything else: nullopt.
std::optional<int32_t> StrToIntStrict(std::string_view text);

// Decimal number with "." as the point, independent of the locale; the whole
// text must be one number (no blanks around it). nullopt when it is not.
std::optional<double> StrToFloatStrict(std::string_view text);

} // namespace kestrane
