// Built without the desktop toolkit: no window to show.
#include <cstdio>

#include "joinerwindow/RunJoinerWindow.h"

namespace kestrane {

int RunJoinerWindow(int, char **) {
  std::fputs("tilejoin: built without the window; see tilejoin --help\n",
             stderr);
  return 2;
}

} // namespace kestrane
