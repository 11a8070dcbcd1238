// The area as field texts: what the picker writes must read back through
// Start's checks to the same block of tiles.
#include <gtest/gtest.h>

#include <cmath>

#include "areamap/AreaFields.h"
#include "geo/TileGrid.h"
#include "task/Estimate.h"
#include "task/TaskInput.h"
#include "tests/support/TempDir.h"

namespace kestrane {
namespace {

struct Block {
  int32_t MinX, MaxX, MinY, MaxY;
  bool operator==(const Block &) const = default;
};

Block BlockOf(double l, double r, double t, double b, int32_t z) {
  return {LongitudeToTileX(l, z), LongitudeToTileX(r, z), LatitudeToTileY(b, z),
          LatitudeToTileY(t, z)};
}

int Decimals(const std::string &text) {
  const size_t dot = text.find('.');
  return dot == std::string::npos ? 0 : int(text.size() - dot - 1);
}

TEST(AreaFieldsTest, TextsReadBackThroughStartToTheSameTiles) {
  // Edges just beside tile borders at zoom 21: plain rounding to 7
  // decimals would move them into the neighbouring column or row.
  const double x21 = TileXToLongitude(1234567, 21);
  const double y21 = TileYToLatitude(1400000, 21);
  struct Row {
    const char *what;
    GeoBox area;
    int32_t zoom;
  } rows[] = {
      {"city block", {-122.34, -122.33, 47.61, 47.6}, 18},
      {"whole grid", {-180, 180, 85, -85}, 1},
      {"west edge 4e-8 east of a border", {x21 + 4e-8, x21 + 0.01, 10, 9}, 21},
      {"west edge 4e-8 west of a border", {x21 - 4e-8, x21 + 0.01, 10, 9}, 21},
      {"east edge 1e-9 west of a border", {x21 - 0.01, x21 - 1e-9, 10, 9}, 21},
      {"north edge 4e-8 below a border", {5, 5.01, y21 - 4e-8, y21 - 0.01}, 21},
      {"south edge 4e-8 above a border", {5, 5.01, y21 + 0.01, y21 + 4e-8}, 21},
      {"same borders at a coarse zoom", {x21 + 4e-8, x21 + 1, 10, 9}, 12},
  };
  testing::TempDir dir;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const AreaFieldTexts texts = FieldTextsFor(row.area, row.zoom);
    TaskFields fields;
    fields.Path = dir.Path();
    fields.Left = texts.Left;
    fields.Right = texts.Right;
    fields.Top = texts.Top;
    fields.Bottom = texts.Bottom;
    fields.Zoom = std::to_string(row.zoom);
    const TaskInputCheck check = CheckTaskInput(fields);
    ASSERT_TRUE(check.Ok()) << *check.Message;
    const CheckedTaskInput &in = check.Input;
    EXPECT_EQ(BlockOf(in.LeftLongitude, in.RightLongitude, in.TopLatitude,
                      in.BottomLatitude, row.zoom),
              BlockOf(row.area.Left, row.area.Right, row.area.Top,
                      row.area.Bottom, row.zoom));
    for (const std::string *t :
         {&texts.Left, &texts.Right, &texts.Top, &texts.Bottom}) {
      EXPECT_LE(Decimals(*t), 7) << *t;
      EXPECT_EQ(t->find(','), std::string::npos) << *t;
      EXPECT_EQ(t->find('e'), std::string::npos) << *t;
    }
  }
}

TEST(AreaFieldsTest, TextsAreOrderedClampedAndShort) {
  struct Row {
    GeoBox area;
    AreaFieldTexts want;
  } rows[] = {
      // Trailing zeros go; the point stays ".".
      {{2.25, 2.5, 48.875, 48.5}, {"2.25", "2.5", "48.875", "48.5"}},
      // Dragged from the south-east corner: the edges are put in order.
      {{10, 9, 40, 41}, {"9", "10", "41", "40"}},
      // Beyond the ranges Start accepts: clamped to them.
      {{-190, 200, 89.5, -89.5}, {"-180", "180", "85", "-85"}},
      // A negative value that rounds to zero is written "0".
      {{-0.00000001, 1, 1, -0.00000001}, {"0", "1", "1", "0"}},
  };
  for (const Row &row : rows) {
    const AreaFieldTexts got = FieldTextsFor(row.area, 10);
    EXPECT_EQ(got.Left, row.want.Left);
    EXPECT_EQ(got.Right, row.want.Right);
    EXPECT_EQ(got.Top, row.want.Top);
    EXPECT_EQ(got.Bottom, row.want.Bottom);
  }
}

TEST(AreaFieldsTest, FieldsOpenThePickerOnlyOnAValidArea) {
  struct Row {
    AreaFieldTexts texts;
    bool valid;
  } rows[] = {
      {{"-122,34", "-122.33", "47.61", "47.6"}, true},  // "," read as "."
      {{"", "-122.33", "47.61", "47.6"}, false},        // empty field
      {{"-122.33", "-122.34", "47.61", "47.6"}, false}, // left > right
      {{"-122.34", "-122.33", "47.6", "47.61"}, false}, // bottom > top
      {{"-122.34", "-122.33", "86", "47.6"}, false},    // beyond 85
      {{"abc", "-122.33", "47.61", "47.6"}, false},
  };
  for (const Row &row : rows)
    EXPECT_EQ(AreaFromFieldTexts(row.texts).has_value(), row.valid)
        << row.texts.Left << " " << row.texts.Top;
}

} // namespace
} // namespace kestrane
