#pragma once
// The main window driven through its widgets, for the window tests: on the
// rig's settings file, with short worker pauses and recorders for every
// message box, opened link and started program.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <string>
#include <vector>

#include "mainwindow/MainWindow.h"
#include "mainwindow/UpDown.h"
#include "tests/windows/GuiTestSupport.h"

namespace kestrane::guitest {

struct MainWindowDriver {
  explicit MainWindowDriver(const GuiRig &rig)
      : MainWindowDriver(Config(rig)) {}
  explicit MainWindowDriver(const MainWindowConfig &config) : form(config) {
    form.SetMessageSink(&messages);
    form.SetErrorSink(&errors);
    form.SetShellOpen([this](const QUrl &url) {
      opened.push_back(url);
      return opener;
    });
    form.SetStartProgram(
        [this](const QString &program, const QStringList &arguments) {
          started.push_back(program);
          startedWith.push_back(arguments);
          return true;
        });
  }
  static MainWindowConfig Config(const GuiRig &rig) {
    MainWindowConfig config;
    config.ProgramFolder = KESTRANE_BUNDLE_DIR;
    config.SettingsPath = rig.SettingsPath();
    config.Pacing = test::WorkerShortPacing();
    return config;
  }
  template <class T> T *Get(const char *name) {
    T *widget = form.findChild<T *>(QString::fromLatin1(name));
    if (widget == nullptr)
      qFatal("no control named %s", name);
    return widget;
  }
  QLineEdit *Edit(const char *name) { return Get<QLineEdit>(name); }
  QPushButton *Button() { return Get<QPushButton>("BitBtn1"); }
  QPlainTextEdit *Memo1() { return Get<QPlainTextEdit>("Memo1"); }
  QStringList Log() { return PaneLines(Memo1()); }
  QString Estimate() { return Get<QLabel>("LabelEstimate")->text(); }
  // The progress line as the core made it (the label keeps a figure with
  // its unit through no-break joins).
  QString Progress() { return PlainText(Get<QLabel>("LabelProgress")->text()); }

  // Twelve tiles at zoom 18 in one row: eight workers.
  void Fill(const std::string &path, const std::string &task = "t.ktsk") {
    Edit("EditTaskName")->setText(QString::fromStdString(task));
    Edit("Edit1")->setText(QStringLiteral("116.25"));
    Edit("Edit3")->setText(QStringLiteral("116.265"));
    Edit("Edit2")->setText(QStringLiteral("39.9"));
    Edit("Edit4")->setText(QStringLiteral("39.9"));
    Get<UpDown>("UpDown1")->SetValue(18);
    Edit("Edit6")->setText(QString::fromStdString(path));
  }
  void ClickStart() { QTest::mouseClick(Button(), Qt::LeftButton); }
  // The real one-second timer ends the task; the tile folder's count at
  // its end is in too.
  bool WaitEnded(int ms = 60000) {
    return QTest::qWaitFor(
        [this] {
          return Button()->text() == "Start" && !form.EndCountPending();
        },
        ms);
  }

  // Declared before the window: it reports to them until it is gone.
  RecordingSink messages;
  RecordingSink errors;
  std::vector<QUrl> opened;
  bool opener = true; // whether the shell's "open" finds a program
  QStringList started;
  std::vector<QStringList> startedWith;
  MainWindow form;
};

} // namespace kestrane::guitest
