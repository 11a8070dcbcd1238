#pragma once

namespace kestrane {

// Shows the Tile Joiner window until it is closed; the exit status.
int RunJoinerWindow(int argc, char **argv);

} // namespace kestrane
