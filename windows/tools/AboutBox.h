#pragma once
// The about box: the program's name and version, the home page and the
// contact address (when the build names one), each opened by a click.
#include <QDialog>
#include <QUrl>
#include <functional>

#include "qtbridge/QtBridge.h"

class QLabel;
class QPushButton;

namespace kestrane {

class AboutBox : public QDialog {
  Q_OBJECT
public:
  AboutBox(const QString &homePage, const QString &contact,
           QWidget *parent = nullptr);

  void SetVersion(const QString &version);
  // The shell's "open" of a link, true when it could; tests replace it.
  void SetShellOpen(std::function<bool(const QUrl &)> open) {
    shellOpen_ = std::move(open);
  }
  // Where a link that nothing could open is told (null: a message box).
  void SetMessageSink(MessageSink *sink) { messages_.SetTarget(sink); }
  // A click on one of the two links.
  void LinkClicked(const QString &link);

private:
  std::function<bool(const QUrl &)> shellOpen_;
  QtMessageSink box_;
  ForwardingSink messages_;
  QLabel *nameLabel_;
  QLabel *versionLabel_;
  QLabel *homePageLabel_;
  QLabel *contactLabel_;
  QPushButton *okButton_;
};

} // namespace kestrane
