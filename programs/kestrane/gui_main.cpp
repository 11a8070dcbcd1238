// The desktop program: the main window and its side windows.
#include <cstdio>
#include <cstring>
#include <string>

#include "application/ApplicationWindows.h"
#include "platform/Version.h"

int main(int argc, char **argv) {
  // Answered before any window system is needed.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("kestrane %s\n", kestrane::kVersion);
      return 0;
    }
  }
  return kestrane::RunApplication(
      argc, argv, std::string(),
      [](QApplication &app, kestrane::ApplicationWindows &windows) {
        windows.Main().show();
        return app.exec();
      });
}
