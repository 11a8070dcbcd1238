// The task's tile folder must be a folder of its own: a link planted under
// its name (in a shared output folder, say) refuses the task before anything
// of it is written, and where the link leads stays untouched.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/core/control/ControlRig.h"

namespace kestrane::controltest {
namespace {

namespace fs = std::filesystem;

TEST(TileFolderLinkTest, ALinkInTheTileFoldersPlaceRefusesTheTask) {
  const struct {
    const char *what;
    bool targetThere;
  } rows[] = {{"a link to a folder", true}, {"a dangling link", false}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    ControlRig rig;
    TempFolder elsewhere;
    const std::string target = elsewhere.Path() + "private";
    if (row.targetThere)
      fs::create_directory(target);
    fs::create_directories(rig.Out());
    fs::create_directory_symlink(target, rig.Out() + "t");

    EXPECT_FALSE(rig.Control().Start(rig.Fields(kOneTile)));
    EXPECT_EQ(rig.Sink.Texts,
              (std::vector<std::string>{
                  "The tile folder is a symbolic link: " + rig.Out() + "t/",
                  "Error: Create task failure."}));
    EXPECT_EQ(Names(rig.Out()), (std::vector<std::string>{"t", "t.ktsk.lock"}));
    EXPECT_TRUE(fs::is_symlink(rig.Out() + "t"));
    EXPECT_EQ(Names(elsewhere.Path()), row.targetThere
                                           ? std::vector<std::string>{"private"}
                                           : std::vector<std::string>{});
    if (row.targetThere) {
      EXPECT_TRUE(Names(target).empty());
    }
  }
}

} // namespace
} // namespace kestrane::controltest
