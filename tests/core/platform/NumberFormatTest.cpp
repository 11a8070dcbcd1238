#include "platform/NumberFormat.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace kestrane {
namespace {

struct GeneralCase {
  double value;
  char sep;
  const char *expected;
  const char *fault; // what a wrong result would reveal
};

TEST(FormatGeneral, Table) {
  const GeneralCase cases[] = {
      // Values of the project file and the log.
      {-122.34, '.', "-122.34", "binary noise of -122.34 shown"},
      {47.6, '.', "47.6", "binary noise of 47.6 shown"},
      {10, '.', "10", "separator or zeros after a whole value"},
      {100, '.', "100", "zeros of the integer part stripped"},
      {45, '.', "45", "whole value"},
      {-11.5, '.', "-11.5", "sign or one-digit fraction lost"},
      {-122.34100341796875, '.', "-122.341003417969",
       "not rounded at 15 digits"},
      {-122.32864379882812, '.', "-122.328643798828",
       "rounded at 16 or 17 digits"},
      {47.61079236060621, '.', "47.6107923606062", "rounding at 15 digits"},
      {47.59968131206443, '.', "47.5996813120644", "rounding at 15 digits"},
      {static_cast<double>(12.508333f), '.', "12.5083332061768",
       "single value widened wrongly"},
      {static_cast<double>(1.0f / 3600.0f), '.', "0.000277777784503996",
       "small plain value given leading digits wrong"},
      {0.1 + 0.2, '.', "0.3", "17-digit round trip instead of 15 digits"},
      {0.5, '.', "0.5", "leading zero missing"},
      {123456789012345.67, '.', "123456789012346",
       "15 digits before the separator: rounded, plain"},
      // The plain/scientific limits.
      {0.0001, '.', "0.0001", "0.0001 itself must be plain"},
      {0.00005, '.', "5E-5", "below 0.0001 must be scientific"},
      {std::nextafter(0.0001, 0.0), '.', "0.0001",
       "notation chosen before rounding"},
      {999999999999999.0, '.', "999999999999999", "15 digits stay plain"},
      {1e15, '.', "1E15", "16 digits before the separator must be scientific"},
      {999999999999999.9, '.', "1E15", "rounds up to 16 digits"},
      {1.5e20, '.', "1.5E20", "exponent with '+' or leading zeros"},
      {-1.23e-7, '.', "-1.23E-7", "negative mantissa or exponent"},
      {1e-300, '.', "1E-300", "three-digit exponent"},
      {std::numeric_limits<double>::max(), '.', "1.79769313486232E308",
       "largest double"},
      {0, '.', "0", "zero"},
      {-0.0, '.', "0", "negative zero keeps a sign"},
      // The user's separator.
      {1234.5, ',', "1234,5", "separator not applied"},
      {-122.34, ',', "-122,34", "separator not applied"},
      {10, ',', "10", "separator added to a whole value"},
      {1.5e20, ',', "1,5E20", "separator not applied to the mantissa"},
      {0.00005, ',', "5E-5", "separator added to a one-digit mantissa"},
  };
  for (const GeneralCase &c : cases)
    EXPECT_EQ(FormatGeneral(c.value, c.sep), c.expected) << c.fault;
}

TEST(FormatGeneral, NotANumberAndInfinity) {
  EXPECT_EQ(FormatGeneral(std::nan(""), '.'), "NAN");
  EXPECT_EQ(FormatGeneral(std::numeric_limits<double>::infinity(), '.'), "INF");
  EXPECT_EQ(FormatGeneral(-std::numeric_limits<double>::infinity(), '.'),
            "-INF");
}

TEST(FormatFixed20_14, Table) {
  const struct {
    double value;
    const char *expected;
  } cases[] = {
      // 19 characters: one blank of padding.
      {-122.33001708984375, " -122.33001708984375"},
      {-122.32864379882812, " -122.32864379882812"},
      // 17 characters: three blanks.
      {47.61079236060621, "   47.61079236060621"},
      // Exactly 20 characters: no padding.
      {-1122.33001708984375, "-1122.33001708984375"},
      {0, "    0.00000000000000"},
      // Wider than 20: printf never cuts a number.
      {1e10, "10000000000.00000000000000"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(FormatFixed20_14(c.value), c.expected) << c.value;
}

// Runs `check` under a locale with a decimal comma, when the machine has one.
template <typename F> void WithCommaLocale(F check) {
  const char *names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8",
                         "nl_NL.UTF-8"};
  std::string saved = std::setlocale(LC_ALL, nullptr);
  for (const char *name : names) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      check();
      std::setlocale(LC_ALL, saved.c_str());
      return;
    }
  }
  GTEST_SKIP() << "no locale with a decimal comma installed";
}

TEST(NumberFormat, IgnoresTheGlobalLocale) {
  WithCommaLocale([] {
    EXPECT_EQ(UserDecimalSeparator(), ',');
    EXPECT_EQ(FormatGeneral(-122.34, '.'), "-122.34");
    EXPECT_EQ(FormatFixed20_14(47.61079236060621), "   47.61079236060621");
    EXPECT_EQ(StrToFloatStrict("47.6"), 47.6);
    EXPECT_EQ(StrToFloatStrict("47,6"), std::nullopt);
  });
}

TEST(GroupDigits, GroupsOfThreeFromTheRight) {
  const struct {
    int64_t value;
    const char *text;
  } rows[] = {
      {0, "0"},
      {999, "999"},
      {1000, "1,000"},
      {1570646, "1,570,646"},
      {-12000, "-12,000"},
      {-999, "-999"},
      {100000, "100,000"},
      {std::numeric_limits<int64_t>::min(), "-9,223,372,036,854,775,808"},
  };
  for (const auto &row : rows)
    EXPECT_EQ(GroupDigits(row.value), row.text) << row.value;
  // A comma as the decimal point changes nothing: counts have no decimals.
  WithCommaLocale([] { EXPECT_EQ(GroupDigits(1234567), "1,234,567"); });
}

TEST(UserDecimalSeparator, PointInTheCLocale) {
  std::string saved = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(UserDecimalSeparator(), '.');
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(StrToIntStrict, Table) {
  const struct {
    const char *text;
    std::optional<int32_t> expected;
    const char *fault;
  } cases[] = {
      {"0", 0, "zero"},
      {"42", 42, "plain digits"},
      {"  42", 42, "leading blanks refused"},
      {"\t7", 7, "leading tab refused"},
      {"+5", 5, "plus sign refused"},
      {"-5", -5, "minus sign lost"},
      {"0010", 10, "leading zeros read as octal"},
      {"00000000000000000001", 1, "leading zeros counted as overflow"},
      {"2147483647", 2147483647, "largest value"},
      {"-2147483648", INT32_MIN, "smallest value"},
      {"2147483648", std::nullopt, "overflow by one accepted"},
      {"-2147483649", std::nullopt, "underflow by one accepted"},
      {"99999999999999999999", std::nullopt, "64-bit wrap accepted"},
      {"$FF", 255, "'$' hexadecimal"},
      {"$ff", 255, "lower-case hexadecimal digits"},
      {"0x1f", 31, "'0x' hexadecimal"},
      {"0X1F", 31, "'0X' hexadecimal"},
      {"$FFFFFFFF", -1, "32-bit pattern not taken as signed"},
      {"$80000000", INT32_MIN, "top bit pattern"},
      {"$100000000", std::nullopt, "more than 32 bits accepted"},
      {"-$10", -16, "sign before the '$' prefix"},
      {"+0x10", 16, "sign before the '0x' prefix"},
      {"", std::nullopt, "empty text is no number"},
      {"   ", std::nullopt, "blanks only"},
      {"-", std::nullopt, "sign only"},
      {"$", std::nullopt, "prefix without digits"},
      {"0x", std::nullopt, "prefix without digits"},
      {"12 ", std::nullopt, "blank after the number accepted"},
      {"1.0", std::nullopt, "decimal point accepted"},
      {"1e3", std::nullopt, "exponent accepted"},
      {"12abc", std::nullopt, "garbage after the digits accepted"},
      {"0x1g", std::nullopt, "garbage after hexadecimal digits accepted"},
      {"- 5", std::nullopt, "blank between sign and digits accepted"},
      {"--5", std::nullopt, "two signs accepted"},
      {"x10", std::nullopt, "bare 'x' prefix accepted"},
      {"$-1", std::nullopt, "sign after the prefix accepted"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(StrToIntStrict(c.text), c.expected)
        << "\"" << c.text << "\": " << c.fault;
}

TEST(StrToFloatStrict, Table) {
  const struct {
    const char *text;
    std::optional<double> expected;
    const char *fault;
  } cases[] = {
      {"1", 1.0, "whole number"},
      {"-122.34", -122.34, "negative decimal"},
      {"+47.6", 47.6, "plus sign refused"},
      {".5", 0.5, "no integer digits"},
      {"5.", 5.0, "no fraction digits"},
      {"1e3", 1000.0, "exponent"},
      {"1E-3", 0.001, "negative exponent"},
      {"-1.5e+2", -150.0, "signed exponent"},
      {"0", 0.0, "zero"},
      {"180", 180.0, "whole bound"},
      {"", std::nullopt, "empty text"},
      {" 1", std::nullopt, "leading blank"},
      {"1 ", std::nullopt, "trailing blank"},
      {"1,5", std::nullopt, "comma as separator"},
      {"nan", std::nullopt, "not-a-number word"},
      {"inf", std::nullopt, "infinity word"},
      {"-infinity", std::nullopt, "infinity word"},
      {"0x1p3", std::nullopt, "hexadecimal float"},
      {".", std::nullopt, "point alone"},
      {"-", std::nullopt, "sign alone"},
      {"e5", std::nullopt, "exponent without mantissa"},
      {"1e", std::nullopt, "exponent without digits"},
      {"1e+", std::nullopt, "exponent sign without digits"},
      {"1.2.3", std::nullopt, "two points"},
      {"+-1", std::nullopt, "two signs"},
      {"12abc", std::nullopt, "garbage after the number"},
      {"1e400", std::nullopt, "overflow to infinity"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(StrToFloatStrict(c.text), c.expected)
        << "\"" << c.text << "\": " << c.fault;
}

TEST(StrToFloatStrict, RoundTripsTheGeneralFormat) {
  // The project file stores coordinates as FormatGeneral text and the main
  // window reads them back with the strict conversion.
  for (double v : {-122.34, 47.6107923606062, 5e-5, 1.5e20, -11.5})
    EXPECT_EQ(StrToFloatStrict(FormatGeneral(v, '.')), v) << v;
}

} // namespace
} // namespace kestrane
