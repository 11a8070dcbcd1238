// Runs every registered window test class on the offscreen platform.
#include <QApplication>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "qtbridge/QtBridge.h"
#include "tests/windows/GuiTestSupport.h"
#include "worker/TileHttp.h"

namespace {

// The offscreen platform's screen as the laptop screen the windows must fit:
// 1366 x 768 (the platform's own is 800 x 800).
void OffscreenLaptopScreen() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (!platform.isEmpty() && platform != "offscreen")
    return;
  const std::string config =
      "/tmp/kestrane-gui-screen-" + std::to_string(::getpid()) + ".json";
  if (FILE *f = std::fopen(config.c_str(), "w")) {
    std::fputs("{\"screens\": [{\"name\": \"laptop\", \"x\": 0, \"y\": 0, "
               "\"width\": 1366, \"height\": 768, \"logicalDpi\": 96, "
               "\"logicalBaseDpi\": 96, \"dpr\": 1}]}\n",
               f);
    std::fclose(f);
    qputenv("QT_QPA_PLATFORM",
            QByteArray("offscreen:configfile=") + config.c_str());
  } else {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
}

} // namespace

int main(int argc, char **argv) {
  OffscreenLaptopScreen();
  QApplication app(argc, argv);
  // Read once the platform is up.
  if (const QByteArray p = qgetenv("QT_QPA_PLATFORM");
      p.startsWith("offscreen:configfile="))
    std::remove(p.mid(static_cast<int>(sizeof "offscreen:configfile=") - 1)
                    .constData());
  kestrane::NameApplication(); // as the program does
  kestrane::HttpGlobalInit();
  // KESTRANE_GUI_TEST=Class runs one class (the arguments go to each).
  const QByteArray only = qgetenv("KESTRANE_GUI_TEST");
  int failed = 0;
  for (const auto &test : kestrane::guitest::RegisteredTests()) {
    if (!only.isEmpty() && only != test.Name.c_str())
      continue;
    std::unique_ptr<QObject> object = test.Factory();
    if (QTest::qExec(object.get(), argc, argv) != 0)
      ++failed;
  }
  if (failed)
    std::fprintf(stderr, "%d window test class(es) failed\n", failed);
  return failed ? 1 : 0;
}
