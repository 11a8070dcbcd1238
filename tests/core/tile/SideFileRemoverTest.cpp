// Removing the side files of many tiles with one reading of each folder.
#include "tile/SideFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/TempDir.h"

namespace kestrane {
namespace {

using testing::PutBytes;
using testing::TempDir;

bool Exists(const std::string &path) {
  return std::filesystem::exists(std::filesystem::symlink_status(path));
}

TEST(SideFileRemover, RemovesWhatTheFolderHeld) {
  TempDir dir;
  const std::string a = dir.Path() + "ks_1_1_18.jpg";
  const std::string b = dir.Path() + "ks_2_1_18.jpg";
  const std::string c = dir.Path() + "ks_3_1_18.jpg";
  PutBytes(a + ".crashed", "x");
  PutBytes(a + ".invalid", "x");
  PutBytes(b + ".invalid", "x");
  PutBytes(c, "tile");
  PutBytes(dir.Path() + "ks_3_1_18.jpg.other", "kept");
  const int folder =
      ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  SideFileRemover remover;
  for (const std::string &tile : {a, b, c, a})
    remover.RemoveFor(folder, tile);
  ::close(folder);
  EXPECT_FALSE(Exists(a + ".crashed"));
  EXPECT_FALSE(Exists(a + ".invalid"));
  EXPECT_FALSE(Exists(b + ".invalid"));
  EXPECT_TRUE(Exists(c));
  EXPECT_TRUE(Exists(dir.Path() + "ks_3_1_18.jpg.other"));
}

} // namespace
} // namespace kestrane
