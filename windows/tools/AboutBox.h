#pragma once
// The about box: the program's name and version, the home page and the
// contact address, each opened by a click.
#include <QDialog>
#include <QUrl>
#include <functional>

class QLabel;
class QPushButton;

namespace kestrane {

class AboutBox : public QDialog {
  Q_OBJECT
public:
  AboutBox(const QString &homePage, const QString &contact,
           QWidget *parent = nullptr);

  void SetVersion(const QString &version);
  // The shell's "open" of a link; tests replace it.
  void SetShellOpen(std::function<void(const QUrl &)> open) {
    shellOpen_ = std::move(open);
  }
  // A click on one of the two links.
  void LinkClicked(const QString &link);

private:
  std::function<void(const QUrl &)> shellOpen_;
  QLabel *nameLabel_;
  QLabel *versionLabel_;
  QLabel *homePageLabel_;
  QLabel *contactLabel_;
  QPushButton *okButton_;
};

} // namespace kestrane
