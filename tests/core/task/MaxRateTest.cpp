// The user's cap on tiles a second: the settings key MaxRate as read and
// written, and the live estimate that no longer promises more than the cap
// allows.
#include <gtest/gtest.h>

#include <string>

#include "task/Settings.h"
#include "task/TaskInput.h"
#include "tests/core/task/TaskTestSupport.h"

namespace kestrane {
namespace {

using tasktest::CrLf;
using tasktest::GetBytes;
using tasktest::PutBytes;
using tasktest::TempDir;

TEST(MaxRateTest, ReadFromTheSettings) {
  struct Row {
    const char *what;
    const char *key; // null: no MaxRate line
    double cap;
  } rows[] = {
      {"absent: no cap", nullptr, 0},
      {"a whole number", "MaxRate=4", 4},
      {"a fraction", "MaxRate=0.5", 0.5},
      {"blanks around it", "MaxRate= 12 ", 12},
      {"zero: no cap", "MaxRate=0", 0},
      {"empty: no cap", "MaxRate=", 0},
      {"negative: no cap", "MaxRate=-3", 0},
      {"not a number: no cap", "MaxRate=fast", 0},
      {"a comma is no decimal point here", "MaxRate=4,5", 0},
      {"infinity: no cap", "MaxRate=inf", 0},
  };
  TempDir dir;
  const std::string path = dir.Path() + "config.ini";
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    PutBytes(path, CrLf({"[IniParas]", "DefaultPath=/d",
                         row.key ? row.key : "Version=6.2"}));
    EXPECT_DOUBLE_EQ(ReadSettings(path).MaxRate, row.cap);
    EXPECT_DOUBLE_EQ(MaxRateSetting(path), row.cap);
  }
  // A settings file that cannot be read gives no cap to the display.
  EXPECT_DOUBLE_EQ(MaxRateSetting(dir.Path()), 0);
}

// A file without a cap stays as it was; a cap is written and read back; a
// cap taken away leaves "MaxRate=0".
TEST(MaxRateTest, WrittenOnlyWhenThereIsOne) {
  TempDir dir;
  const std::string path = dir.Path() + "config.ini";
  const auto write = [&](double cap) {
    Settings s;
    s.DefaultPath = "/d";
    s.MaxRate = cap;
    WriteOptions(path, s);
    return GetBytes(path);
  };
  const std::string proxy =
      CrLf({"[Proxy]", "UseProxy=0",
            "ProxyServer=", "ProxyPort=", "ProxyUsername=", "ProxyPassword="});
  EXPECT_EQ(write(0), CrLf({"[IniParas]", "DefaultPath=/d"}) + proxy);
  EXPECT_EQ(write(4),
            CrLf({"[IniParas]", "DefaultPath=/d", "MaxRate=4"}) + proxy);
  EXPECT_DOUBLE_EQ(ReadSettings(path).MaxRate, 4);
  EXPECT_EQ(write(0.25),
            CrLf({"[IniParas]", "DefaultPath=/d", "MaxRate=0.25"}) + proxy);
  EXPECT_EQ(write(0),
            CrLf({"[IniParas]", "DefaultPath=/d", "MaxRate=0"}) + proxy);
  EXPECT_DOUBLE_EQ(ReadSettings(path).MaxRate, 0);
}

TEST(MaxRateTest, TheEstimateCountsTheCap) {
  TempDir dir;
  TaskFields f;
  f.Path = dir.Path();
  f.Left = "116.25";
  f.Right = "116.2525";
  f.Top = f.Bottom = "39.9";
  f.Zoom = "18"; // three tiles: 0.7 s at the workers' own pace
  const std::pair<double, const char *> rows[] = {
      {0, "0.7 s"},
      {10, "0.7 s"},
      {2, "1.5 s"},
      {0.01, "5 min 0 s"},
  };
  for (const auto &[cap, time] : rows) {
    SCOPED_TRACE(cap);
    EXPECT_EQ(EstimateLine(f, cap),
              "Tiles: 3 (3 x 1), at least " + std::string(time));
  }
}

} // namespace
} // namespace kestrane
