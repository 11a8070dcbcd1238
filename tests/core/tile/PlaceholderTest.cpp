#include "tile/Placeholder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "platform/Files.h"
#include "sample/TileImage.h"
#include "tests/support/TempDir.h"

namespace kestrane {
namespace {

using testing::GetBytes;
using testing::PutBytes;
using testing::TempDir;

const std::string kBlankPath =
    std::string(KESTRANE_SOURCE_DIR) + "blankimg/blank180.jpg";

std::string GoodJpeg() {
  return TileJpeg(TileAddress{10, 100, 200, 0});
}

TEST(PlaceholderPath, IsTheBlankImageOfTheProgramFolder) {
  EXPECT_EQ(PlaceholderPath("/opt/k/"), "/opt/k/blankimg/blank180.jpg");
  EXPECT_EQ(PlaceholderPath("/opt/k/", 7, "png"), "/opt/k/blankimg/blank7.png");
  EXPECT_EQ(PlaceholderPath(""), ProgramFolder() + "blankimg/blank180.jpg");
  EXPECT_EQ(PlaceholderPath(KESTRANE_SOURCE_DIR), kBlankPath);
}

// A given-up tile gets the placeholder only where no file stands yet; only
// a copy that fails while the placeholder is there is a failure.
TEST(PlacePlaceholder, OnlyWhereNoFileIsYet) {
  TempDir d;
  const std::string blank = d.Path() + "blank.jpg";
  PutBytes(blank, "blank");
  PutBytes(d.Path() + "stored.jpg", "tile");
  struct Row {
    const char *what;
    std::string placeholder, tile;
    bool ok;
    const char *after; // the tile file's bytes afterwards; null: no file
  };
  const Row rows[] = {
      {"no file yet", blank, d.Path() + "new.jpg", true, "blank"},
      {"a stored tile stays", blank, d.Path() + "stored.jpg", true, "tile"},
      {"no placeholder: nothing placed", d.Path() + "none.jpg",
       d.Path() + "other.jpg", true, nullptr},
      {"the tile's folder is gone", blank, d.Path() + "gone/x.jpg", false,
       nullptr},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(PlacePlaceholder(r.placeholder, r.tile), r.ok);
    EXPECT_EQ(FileExists(r.tile), r.after != nullptr);
    if (r.after != nullptr) {
      EXPECT_EQ(GetBytes(r.tile), r.after);
    }
  }
}

// A re-download run's count of the records whose tile is stored now.
TEST(TileFileIsStored, OnlyANonEmptyFileThatIsNotThePlaceholder) {
  TempDir d;
  const std::string blank = PlaceholderBytes(KESTRANE_SOURCE_DIR);
  ASSERT_EQ(blank, GetBytes(kBlankPath));
  std::string otherOfBlankSize = blank;
  otherOfBlankSize.back() ^= 1;
  PutBytes(d.Path() + "tile.jpg", GoodJpeg());
  PutBytes(d.Path() + "blank.jpg", blank);
  PutBytes(d.Path() + "same-size.jpg", otherOfBlankSize);
  PutBytes(d.Path() + "empty.jpg", "");
  std::filesystem::create_directory(d.Path() + "folder.jpg");
  const std::pair<const char *, bool> rows[] = {
      {"tile.jpg", true},   {"blank.jpg", false},  {"same-size.jpg", true},
      {"empty.jpg", false}, {"folder.jpg", false}, {"none.jpg", false},
  };
  for (const auto &[name, stored] : rows)
    EXPECT_EQ(TileFileIsStored(d.Path() + name, blank), stored) << name;
  // Without a blank image to compare with, any tile file counts.
  EXPECT_TRUE(TileFileIsStored(d.Path() + "blank.jpg", ""));
}

} // namespace
} // namespace kestrane
