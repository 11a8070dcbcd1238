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
  void setShellOpen(std::function<void(const QUrl &)> open) {
    shellOpen_ = std::move(open);
  }
  // A click on one of the two links.
  void LinkClick(const QString &link);

private:
  std::function<void(const QUrl &)> shellOpen_;
  QLabel *LabelName;
  QLabel *LabelVersion;
  QLabel *LabelHomePage;
  QLabel *LabelContact;
  QPushButton *OKButton;
};

} // namespace kestrane
