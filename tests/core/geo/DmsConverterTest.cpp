#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "geo/DmsConverter.h"

namespace kestrane {
namespace {

struct ConvertRow {
  const char *Degrees, *Minutes, *Seconds;
  const char *Shown; // nullptr: "Input Error."
  const char *Fault; // what a failing row would reveal
};

TEST(ConvertDegrees, TableOfTheConverter) {
  const ConvertRow rows[] = {
      {"12", "30", "0", "12.5", "minutes not divided by 60"},
      {"12", "30", "30", "12.5083332061768",
       "sum not rounded to single precision once"},
      {"-12", "30", "0", "-11.5", "sign of degrees applied to minutes"},
      {"-12", "-30", "0", "-12.5", "minutes' own sign dropped"},
      {"0", "90", "0", "1.5", "minutes over 59 refused"},
      {"0", "0", "1", "0.000277777784503996",
       "seconds not rounded to single precision"},
      {"45", "0", "", "45", "empty seconds refused instead of 0"},
      {"45", "0", "abc", "45", "seconds without number refused"},
      {"12", "30", "30,5", "12.5083332061768",
       "seconds read with the regional comma"},
      {"12.5", "0", "0", nullptr, "decimal degrees accepted"},
      {"", "0", "0", nullptr, "empty degrees accepted"},
      // Beyond the table: the strict conversion of both whole fields.
      {"12", "", "0", nullptr, "empty minutes accepted"},
      {"12 ", "0", "0", nullptr, "blank after degrees accepted"},
      {" 12", "0", "0", "12", "leading blanks of degrees refused"},
      {"2147483648", "0", "0", nullptr, "degrees beyond 32 bits wrapped"},
      {"$1F", "0", "0", "31", "\"$\" hexadecimal refused"},
      {"0x1F", "0", "0", "31", "\"0x\" hexadecimal refused"},
      {"12", "0x1E", "0", "12.5", "hexadecimal minutes refused"},
      {"1", "0", "  18e2xyz", "1.5", "exponent or blanks of seconds lost"},
      {"0", "0", "1e39", nullptr, "infinite sum shown as a number"},
  };
  for (const ConvertRow &r : rows) {
    SCOPED_TRACE(std::string(r.Degrees) + " | " + r.Minutes + " | " +
                 r.Seconds + ": " + r.Fault);
    const std::optional<std::string> got =
        ConvertDegrees(r.Degrees, r.Minutes, r.Seconds, '.');
    if (r.Shown) {
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(*got, r.Shown);
    } else {
      EXPECT_FALSE(got.has_value()) << *got;
    }
  }
}

TEST(ConvertDegrees, ShowsTheUsersDecimalSeparator) {
  EXPECT_EQ(ConvertDegrees("12", "30", "30", ','), "12,5083332061768");
  EXPECT_EQ(ConvertDegrees("0", "0", "1", ','), "0,000277777784503996");
  // Seconds keep "." as their point under a decimal comma.
  EXPECT_EQ(ConvertDegrees("12", "30", "30.0", ','), "12,5083332061768");
  EXPECT_EQ(ConvertDegrees("45", "0", "", ','), "45");
}

TEST(LenientStrToFloat, LongestNumericPrefix) {
  struct Row {
    const char *Text;
    double Value;
    const char *Fault;
  };
  const Row rows[] = {
      {"30", 30, "plain digits"},
      {"30,5", 30, "regional comma taken as the point"},
      {" \t30.25xyz", 30.25, "leading blanks or trailing junk not handled"},
      {"-2.5", -2.5, "sign lost"},
      {"+7", 7, "plus sign refused"},
      {".5", 0.5, "number without whole digits refused"},
      {"5.", 5, "point without decimals refused"},
      {"1e3", 1000, "exponent ignored"},
      {"1E-2", 0.01, "negative exponent ignored"},
      {"2e", 2, "bare \"e\" swallowed the number"},
      {"2e+", 2, "\"e+\" without digits swallowed the number"},
      {"3.5.1", 3.5, "second point taken"},
      {"", 0, "empty text not 0"},
      {"abc", 0, "text not 0"},
      {".", 0, "lone point not 0"},
      {"-", 0, "lone sign not 0"},
      {"e5", 0, "exponent without mantissa taken"},
      {"--1", 0, "double sign taken"},
      {"1e-999", 0, "underflow not 0"},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(std::string("\"") + r.Text + "\": " + r.Fault);
    EXPECT_DOUBLE_EQ(LenientStrToFloat(r.Text), r.Value);
  }
  // Digits alone beyond the double range, without an exponent.
  EXPECT_EQ(LenientStrToFloat("0." + std::string(400, '0') + "1"), 0);
  EXPECT_TRUE(std::isinf(LenientStrToFloat("1" + std::string(400, '0'))));
  EXPECT_TRUE(std::isinf(LenientStrToFloat("1e999")));
  EXPECT_LT(LenientStrToFloat("-1e999"), 0);
}

} // namespace
} // namespace kestrane
