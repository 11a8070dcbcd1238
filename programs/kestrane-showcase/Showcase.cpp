#include "Showcase.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCompleter>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "inventory/ProjectFile.h"
#include "picker/PickAreaWindow.h"
#include "platform/Files.h"
#include "tools/RedownloadWindow.h"
#include "viewerwindow/TileViewWindow.h"

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

// A quarter of Paris at zoom 17: the picker opens on it at city scale.
void TypeParis(MainWindow &mainWindow) {
  Type(mainWindow, "Edit1", "2.3252");
  Type(mainWindow, "Edit3", "2.3458");
  Type(mainWindow, "Edit2", "48.8664");
  Type(mainWindow, "Edit4", "48.8566");
  if (auto *zoom = mainWindow.findChild<UpDown *>(QStringLiteral("UpDown1")))
    zoom->SetValue(17);
}

// Runs `step` half a second after the window has come up.
template <class F> void Later(MainWindow &mainWindow, F step) {
  QTimer::singleShot(500, &mainWindow, step);
}

// The picker, once up, on a province with "Use outline" ticked.
void PickOutline(MainWindow &mainWindow) {
  QTimer::singleShot(1500, &mainWindow, [] {
    auto *picker =
        qobject_cast<PickAreaWindow *>(QApplication::activeModalWidget());
    if (picker == nullptr || !picker->ShowPlace(QStringLiteral("Finist")))
      return;
    // The match as the drop-down would have put it, the drop-down closed.
    if (auto *search =
            picker->findChild<QLineEdit *>(QStringLiteral("EditFindPlace")))
      search->setText(QStringLiteral("Finistère, France"));
    if (auto *completer = picker->findChild<QCompleter *>())
      completer->popup()->hide();
    if (auto *use =
            picker->findChild<QCheckBox *>(QStringLiteral("CheckUseOutline")))
      use->setChecked(true);
  });
  mainWindow.PickAreaChosen();
}

// The tile viewer on `task`, which has an outline beside it, in this
// process, to the right of the main window.
void ViewOutline(MainWindow &mainWindow, const QString &task) {
  TileViewConfig config;
  config.ProgramFolder = mainWindow.ProgramFolder();
  static TileViewWindow *viewer = new TileViewWindow(config);
  mainWindow.move(0, 120);
  viewer->setGeometry(606, 40, 750, 690);
  viewer->show();
  viewer->ShowTask(LoadTask(task.toStdString()));
}

// States that open a task given on the command line first.
bool StartTaskShowcase(MainWindow &mainWindow, const QString &state,
                       const QString &task) {
  mainWindow.LoadTaskFile(task.toStdString());
  if (state == QLatin1String("download")) {
    Later(mainWindow, [&mainWindow] { mainWindow.StartStopClicked(); });
  } else if (state == QLatin1String("restart")) {
    // The name typed without ".ktsk": the question says so.
    Type(mainWindow, "EditTaskName",
         QFileInfo(task).completeBaseName().toLatin1().constData());
    Later(mainWindow, [&mainWindow] { mainWindow.StartStopClicked(); });
  } else if (state == QLatin1String("viewer")) {
    Later(mainWindow, [&mainWindow] { mainWindow.TileViewerChosen(); });
  } else if (state == QLatin1String("viewer-outline")) {
    Later(mainWindow, [&mainWindow, task] { ViewOutline(mainWindow, task); });
  } else if (state == QLatin1String("joiner")) {
    Later(mainWindow, [&mainWindow] { mainWindow.TileJoinerChosen(); });
  } else {
    return false;
  }
  return true;
}

} // namespace

bool StartShowcase(MainWindow &mainWindow, const ToolWindows &tools,
                   const QString &state, const QString &ftl,
                   const QString &task) {
  mainWindow.show();
  if (!task.isEmpty())
    return StartTaskShowcase(mainWindow, state, task);
  enum class Fields { Fresh, Seattle, Paris };
  struct Showcase {
    const char *State;
    Fields Typed;
    std::function<void()> Step; // half a second after the window is up
  };
  MainWindow &w = mainWindow;
  const Showcase showcases[] = {
      {"greeting", Fields::Fresh, nullptr},
      {"estimate", Fields::Seattle, nullptr},
      {"picker-world", Fields::Fresh, [&w] { w.PickAreaChosen(); }},
      {"picker-city", Fields::Paris, [&w] { w.PickAreaChosen(); }},
      {"picker-outline", Fields::Fresh, [&w] { PickOutline(w); }},
      // A degree square at zoom 18: some 700,000 tiles.
      {"longtask", Fields::Seattle,
       [&w] {
         Type(w, "Edit1", "-123");
         Type(w, "Edit3", "-122");
         Type(w, "Edit2", "48");
         Type(w, "Edit4", "47");
         w.StartStopClicked();
       }},
      {"message", Fields::Seattle,
       [&w] {
         w.ConverterChosen();
         Type(w, "Edit3", "abc"); // Start refuses it with a message box
         QTimer::singleShot(500, &w, [&w] { w.StartStopClicked(); });
       }},
      {"options", Fields::Seattle,
       [&w] {
         w.ConverterChosen();
         QTimer::singleShot(500, &w, [&w] { w.OptionsChosen(); });
       }},
      // Where nothing opens files, the box says where the manual is.
      {"opener", Fields::Seattle, [&w] { w.UserManualChosen(); }},
      {"about", Fields::Seattle, [&w] { w.AboutChosen(); }},
      {"redownload", Fields::Seattle,
       [&w, tools, ftl] {
         QTimer::singleShot(500, tools.Redownload, [tools, ftl] {
           tools.Redownload->StartRun(ftl.toStdString());
         });
         w.RedownloadChosen();
       }},
  };
  for (const Showcase &showcase : showcases) {
    if (state != QLatin1String(showcase.State))
      continue;
    if (showcase.Typed == Fields::Seattle)
      TypeArea(w);
    else if (showcase.Typed == Fields::Paris)
      TypeParis(w);
    if (showcase.Step)
      Later(w, showcase.Step);
    return true;
  }
  return false;
}

} // namespace kestrane
