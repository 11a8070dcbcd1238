// tileview: a task's tiles as one picture, with what is missing marked.
//   tileview [--place X,Y,W,H] [TASK.ktsk]
// --place: the window's geometry (the main window's Tools menu opens the
// viewer beside itself).
#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>

#include "platform/Files.h"
#include "qtbridge/Placement.h"
#include "viewerwindow/TileViewWindow.h"

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("tileview %s\n", KESTRANE_VERSION);
      return 0;
    }
  std::setlocale(LC_ALL, "");
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("Kestrane"));
  try {
    const std::string folder = kestrane::ProgramFolder();
    app.setWindowIcon(QIcon(QString::fromStdString(folder + "kestrane.png")));
    kestrane::TileViewConfig config;
    config.ProgramFolder = folder;
    kestrane::TileViewWindow window(config);
    const QStringList args = app.arguments();
    if (const std::optional<QRect> place = kestrane::PlaceFromArguments(args))
      kestrane::MoveToPlace(&window, *place);
    // No display name is set: the window system would add it to the title.
    window.show();
    for (int i = 1; i < args.size(); ++i) {
      if (args[i] == QLatin1String("--place")) {
        ++i; // its value
        continue;
      }
      if (!args[i].startsWith(QLatin1Char('-'))) {
        window.OpenTask(args[i].toStdString());
        break;
      }
    }
    return app.exec();
  } catch (const std::exception &e) {
    QMessageBox::critical(nullptr, QStringLiteral("Tile Viewer"),
                          QString::fromStdString(e.what()));
    return 1;
  }
}
