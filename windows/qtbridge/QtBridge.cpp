#include "qtbridge/QtBridge.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
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

namespace {
const QChar kNoBreakSpace(0x00A0);
const QChar kWordJoiner(0x2060);
} // namespace

QString KeepUnitsTogether(QString text) {
  for (qsizetype i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == QLatin1Char(' ') && text[i - 1].isDigit())
      text[i] = kNoBreakSpace;
    else if (text[i] == QLatin1Char('/') && text[i - 1].isLetter() &&
             text[i + 1].isLetter())
      text.insert(++i, kWordJoiner);
  }
  return text;
}

QString PlainText(QString shown) {
  shown.replace(kNoBreakSpace, QLatin1Char(' '));
  shown.remove(kWordJoiner);
  return shown;
}

std::string CannotOpenText(const QUrl &target) {
  const QString shown =
      target.isLocalFile() ? target.toLocalFile() : target.toString();
  return "Cannot open " + StdStr(shown) +
         ": no program to open it was found (xdg-open). Open it by hand.";
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

size_t AskChoiceBox(QWidget *parent, const std::string &text,
                    const std::vector<std::string> &answers, size_t fallback) {
  QMessageBox box(QMessageBox::Question, BoxTitle(), QStr(text),
                  QMessageBox::NoButton, parent);
  std::vector<QAbstractButton *> buttons;
  for (size_t i = 0; i < answers.size(); ++i) {
    // The answer that changes nothing is the reject role (Escape) and
    // the default; the first the accept role.
    const QMessageBox::ButtonRole role = i == fallback ? QMessageBox::RejectRole
                                         : i == 0      ? QMessageBox::AcceptRole
                                                  : QMessageBox::ActionRole;
    buttons.push_back(box.addButton(QStr(answers[i]), role));
  }
  if (fallback < buttons.size()) {
    box.setDefaultButton(static_cast<QPushButton *>(buttons[fallback]));
    box.setEscapeButton(buttons[fallback]);
  }
  box.exec();
  for (size_t i = 0; i < buttons.size(); ++i)
    if (box.clickedButton() == buttons[i])
      return i;
  return fallback;
}

size_t QtMessageSink::AskChoice(const std::string &question,
                                const std::vector<std::string> &answers,
                                size_t fallback) {
  return AskChoiceBox(parent_, question, answers, fallback);
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
