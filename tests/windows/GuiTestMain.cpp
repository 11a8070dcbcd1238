// Runs every registered window test class on the offscreen platform.
#include <QApplication>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "qtbridge/QtBridge.h"
#include "tests/windows/GuiTestSupport.h"
#include "worker/TileHttp.h"

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
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
