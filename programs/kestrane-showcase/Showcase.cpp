#include "Showcase.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "tools/ConverterWindow.h"
#include "tools/RedownloadWindow.h"

namespace kestrane {

namespace {

void Type(QWidget &window, const char *field, const char *text) {
  if (auto *edit = window.findChild<QLineEdit *>(QString::fromLatin1(field)))
    edit->setText(QString::fromLatin1(text));
}

// A 0.01 degree square over a city at zoom 18, and a folder that exists.
void TypeArea(MainWindow &mainWindow) {
  Type(mainWindow, "Edit1", "-122.3407");
  Type(mainWindow, "Edit3", "-122.3301");
  Type(mainWindow, "Edit2", "47.6083");
  Type(mainWindow, "Edit4", "47.5983");
  Type(mainWindow, "Edit6", "/tmp");
  if (auto *zoom = mainWindow.findChild<UpDown *>(QStringLiteral("UpDown1")))
    zoom->SetValue(18);
}

// The converter over the right half of the main window, where the main
// window's dialogs appear too.
void ShowConverterBeside(MainWindow &mainWindow, ConverterWindow &converter) {
  converter.show();
  const QRect main = mainWindow.frameGeometry();
  converter.move(main.left() + 300, main.top() + 120);
  converter.raise();
}

} // namespace

bool StartShowcase(MainWindow &mainWindow, const ToolWindows &tools,
                   const QString &state, const QString &ftl) {
  mainWindow.show();
  TypeArea(mainWindow);
  if (state == QLatin1String("estimate"))
    return true;
  if (state == QLatin1String("message")) {
    QTimer::singleShot(500, &mainWindow, [&mainWindow, tools] {
      ShowConverterBeside(mainWindow, *tools.Converter);
      Type(mainWindow, "Edit3", "abc"); // Start refuses it with a message box
      QTimer::singleShot(500, &mainWindow,
                         [&mainWindow] { mainWindow.StartStopClicked(); });
    });
    return true;
  }
  if (state == QLatin1String("options")) {
    QTimer::singleShot(500, &mainWindow, [&mainWindow, tools] {
      ShowConverterBeside(mainWindow, *tools.Converter);
      QTimer::singleShot(500, &mainWindow,
                         [&mainWindow] { mainWindow.OptionsChosen(); });
    });
    return true;
  }
  if (state == QLatin1String("redownload")) {
    QTimer::singleShot(500, &mainWindow, [&mainWindow, tools, ftl] {
      QTimer::singleShot(500, tools.Redownload, [tools, ftl] {
        tools.Redownload->StartRun(ftl.toStdString());
      });
      mainWindow.RedownloadChosen();
    });
    return true;
  }
  return false;
}

} // namespace kestrane
