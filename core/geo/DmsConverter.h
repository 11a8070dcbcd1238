#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace kestrane {

// The converter's message when degrees or minutes are not whole numbers.
inline constexpr char kConvertInputError[] = "Input Error.";

// The lenient reading of the seconds field: leading blanks skipped, then the
// longest prefix that forms a decimal number (optional sign, digits, "." as
// the point whatever the locale, optional exponent) and the rest ignored. A
// text without such a prefix gives 0. Never fails; a prefix too large for a
// double gives an infinity, one too small gives 0.
double LenientStrToFloat(std::string_view text);

// Degrees, minutes and seconds (as typed) to decimal degrees, as the text
// the converter shows: D + M/60 + S/3600, D and M whole numbers (strict
// conversion, "$" and "0x" hexadecimal accepted), S read leniently and
// rounded to single precision, the sum formed in extended precision and
// rounded to single precision, shown in the general number format with
// `decimalSeparator`. nullopt ("Input Error.") when D or M is not a whole
// number, and when the sum is not finite (seconds beyond the single
// precision range), which no area field could take.
std::optional<std::string> ConvertDegrees(std::string_view degrees,
                                          std::string_view minutes,
                                          std::string_view seconds,
                                          char decimalSeparator);

} // namespace kestrane
