// The atomic write prepared before its bytes are known, whose file takes
// the target's place only when a check of its content, running meanwhile,
// says so.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/AtomicFile.h"
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

size_t TemporariesIn(const std::string &folder) {
  size_t n = 0;
  for (const auto &e : std::filesystem::directory_iterator(folder))
    n += IsTemporaryName(e.path().filename().string());
  return n;
}

TEST(CheckedWrite, TheCheckHasTheLastWord) {
  struct Row {
    const char *what;
    bool targetIsFolder;
    bool targetExists;
    bool keep;
    bool written;
    std::string reasonPart; // "" for an empty reason
  } rows[] = {
      {"kept: the new content", false, true, true, true, ""},
      {"kept: a new file", false, false, true, true, ""},
      {"refused: the old file stays, no reason", false, true, false, false, ""},
      {"refused: no file appears", false, false, false, false, ""},
      {"a target that cannot be written: the check still ends", true, true,
       true, false, "directory"},
      {"both: no reason, the check counts first", true, true, false, false, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const std::string target = dir.Path() + "t.jpg";
    if (row.targetIsFolder)
      std::filesystem::create_directory(target);
    else if (row.targetExists)
      PutBytes(target, "old");
    PreparedWrite write(target);
    // The temporary file is there before the bytes are.
    EXPECT_EQ(TemporariesIn(dir.Path()), row.targetIsFolder ? 0u : 1u);
    int asked = 0;
    std::string reason = "unset";
    const bool written = write.Commit(
        "new",
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
    if (!row.targetIsFolder && (row.targetExists || row.written)) {
      EXPECT_EQ(GetBytes(target), row.written ? "new" : "old");
    }
    // No temporary file stays behind either way.
    EXPECT_EQ(TemporariesIn(dir.Path()), 0u);
    EXPECT_EQ(FilesIn(dir.Path()),
              row.targetIsFolder || row.targetExists || row.written ? 1u : 0u);
  }
}

TEST(CheckedWrite, APreparedWriteNotCommittedLeavesNothing) {
  TempDir dir;
  const std::string target = dir.Path() + "t.jpg";
  PutBytes(target, "old");
  {
    std::optional<PreparedWrite> write(std::in_place, target);
    EXPECT_EQ(FilesIn(dir.Path()), 2u);
    write.reset();
  }
  EXPECT_EQ(FilesIn(dir.Path()), 1u);
  EXPECT_EQ(GetBytes(target), "old");
}

TEST(CheckedWrite, ASecondCommitWritesNothing) {
  TempDir dir;
  const std::string target = dir.Path() + "t.jpg";
  PreparedWrite write(target);
  EXPECT_TRUE(write.Commit("first", [] { return true; }));
  std::string reason;
  EXPECT_FALSE(write.Commit(
      "second", [] { return true; }, &reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(GetBytes(target), "first");
  EXPECT_EQ(FilesIn(dir.Path()), 1u);
}

} // namespace
} // namespace kestrane
