// The atomic write whose file takes the target's place only when a check of
// its content, running meanwhile, says so.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/Files.h"
#include "tests/support/TempDir.h"

namespace kestrane {
namespace {

using testing::GetBytes;
using testing::PutBytes;
using testing::TempDir;

size_t FilesIn(const std::string &folder) {
  size_t n = 0;
  for ([[maybe_unused]] const auto &e :
       std::filesystem::directory_iterator(folder))
    ++n;
  return n;
}

TEST(CheckedWrite, TheCheckHasTheLastWord) {
  struct Row {
    const char *what;
    bool targetIsFolder;
    bool keep;
    bool written;
    std::string reasonPart; // "" for an empty reason
  } rows[] = {
      {"kept: the new content", false, true, true, ""},
      {"refused: the old file stays, no reason", false, false, false, ""},
      {"a target that cannot be written: the check still ends", true, true,
       false, "directory"},
      {"both: no reason, the check counts first", true, false, false, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const std::string target = dir.Path() + "t.jpg";
    if (row.targetIsFolder)
      std::filesystem::create_directory(target);
    else
      PutBytes(target, "old");
    int asked = 0;
    std::string reason = "unset";
    const bool written = WriteFileAtomicUnsyncedIf(
        target, "new",
        [&] {
          ++asked;
          return row.keep;
        },
        &reason);
    EXPECT_EQ(written, row.written);
    EXPECT_EQ(asked, 1);
    if (row.reasonPart.empty()) {
      EXPECT_TRUE(written || reason.empty()) << reason;
    } else {
      EXPECT_NE(reason.find(row.reasonPart), std::string::npos) << reason;
    }
    if (!row.targetIsFolder) {
      EXPECT_EQ(GetBytes(target), row.written ? "new" : "old");
    }
    // No temporary file stays behind either way.
    EXPECT_EQ(FilesIn(dir.Path()), 1u);
  }
}

} // namespace
} // namespace kestrane
