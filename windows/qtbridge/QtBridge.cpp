#include "qtbridge/QtBridge.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace kestrane {

QString PaneLine(const std::string &line) {
  QString text = QStr(line);
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

QString PaneText(const std::vector<std::string> &lines) {
  std::string joined;
  size_t size = 0;
  for (const std::string &line : lines)
    size += line.size() + 1;
  joined.reserve(size);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i)
      joined += '\n';
    joined += lines[i];
  }
  return PaneLine(joined);
}

void QtMainThreadBridge::RunBlocking(const std::function<void()> &fn) {
  if (target_ == nullptr || QThread::currentThread() == target_->thread()) {
    fn();
    return;
  }
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      target_,
      [&fn, &error] {
        try {
          fn();
        } catch (...) {
          // The worker waits for this call: it learns of the failure, the
          // event loop does not.
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (error)
    std::rethrow_exception(error);
}

void NameApplication() {
  QCoreApplication::setApplicationName(QStringLiteral("Kestrane"));
}

static QString BoxTitle() {
  const QString name = QApplication::applicationDisplayName();
  return name.isEmpty() ? QStringLiteral("Kestrane") : name;
}

void ShowMessageBox(QWidget *parent, const std::string &text) {
  QMessageBox::information(parent, BoxTitle(), QStr(text));
}

void ShowErrorBox(QWidget *parent, const std::string &text) {
  QMessageBox::critical(parent, BoxTitle(), QStr(text));
}

bool AskQuestionBox(QWidget *parent, const std::string &text) {
  return QMessageBox::question(parent, BoxTitle(), QStr(text),
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

bool QtMessageSink::AskYesNo(const std::string &question) {
  return AskQuestionBox(parent_, question);
}

void QtMessageSink::ShowMessage(const std::string &text) {
  if (error_)
    ShowErrorBox(parent_, text);
  else
    ShowMessageBox(parent_, text);
}

} // namespace kestrane
