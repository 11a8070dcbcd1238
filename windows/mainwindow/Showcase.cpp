#include "mainwindow/Showcase.h"

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
void TypeArea(MainWindow &form1) {
  Type(form1, "Edit1", "-122.3407");
  Type(form1, "Edit3", "-122.3301");
  Type(form1, "Edit2", "47.6083");
  Type(form1, "Edit4", "47.5983");
  Type(form1, "Edit6", "/tmp");
  if (auto *zoom = form1.findChild<UpDown *>(QStringLiteral("UpDown1")))
    zoom->setValue(18);
}

// The converter over the right half of the main window, where the main
// window's dialogs appear too.
void ShowConverterBeside(MainWindow &form1, ConverterWindow &convert) {
  convert.show();
  const QRect main = form1.frameGeometry();
  convert.move(main.left() + 300, main.top() + 120);
  convert.raise();
}

} // namespace

bool StartShowcase(MainWindow &form1, const ToolWindows &tools,
                   const QString &state, const QString &ftl) {
  form1.show();
  TypeArea(form1);
  if (state == QLatin1String("estimate"))
    return true;
  if (state == QLatin1String("message")) {
    QTimer::singleShot(500, &form1, [&form1, tools] {
      ShowConverterBeside(form1, *tools.Convert);
      Type(form1, "Edit3", "abc"); // Start refuses it with a message box
      QTimer::singleShot(500, &form1, [&form1] { form1.BitBtn1Click(); });
    });
    return true;
  }
  if (state == QLatin1String("options")) {
    QTimer::singleShot(500, &form1, [&form1, tools] {
      ShowConverterBeside(form1, *tools.Convert);
      QTimer::singleShot(500, &form1, [&form1] { form1.Options2Click(); });
    });
    return true;
  }
  if (state == QLatin1String("redownload")) {
    QTimer::singleShot(500, &form1, [&form1, tools, ftl] {
      QTimer::singleShot(500, tools.Flt, [tools, ftl] {
        tools.Flt->StartRun(ftl.toStdString());
      });
      form1.ReDownloadfailedfiles1Click();
    });
    return true;
  }
  return false;
}

} // namespace kestrane
