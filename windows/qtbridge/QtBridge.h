#pragma once
// What the windows share: the main-thread bridge of the workers, the message
// and error boxes behind the core's MessageSink, the guard that shows a
// handler's failure in the standard error box, and text conversion.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/MainThread.h"

namespace kestrane {

// The program holds text as UTF-8 std::string; the widgets as QString.
inline QString QStr(const std::string &s) {
  return QString::fromStdString(s);
}
inline std::string StdStr(const QString &s) {
  return s.toStdString();
}

// Lines for a text pane: joined with line feeds; a CR LF inside a line (a
// socket failure's text) shows as one line break.
QString PaneText(const std::vector<std::string> &lines);
QString PaneLine(const std::string &line);

// A line for a label that wraps: a figure stays on the line of the word
// after it ("12 stored", "0:02 left") and a unit stays whole ("tiles/s"),
// through no-break spaces and word joiners; the text reads the same.
QString KeepUnitsTogether(QString text);
// The same line with those joins undone: the text as the core made it.
QString PlainText(QString shown);

// The message when nothing could open a file or link (no xdg-open, or it
// failed): names the path or address so the user can open it by hand.
std::string CannotOpenText(const QUrl &target);

// Runs a worker's call on the thread of `target` (the window thread) and
// blocks the worker until it has run. A call made on that thread itself runs
// at once (a blocking queued call to one's own thread would wait for ever).
// An exception thrown by the call reaches the caller, not the event loop.
class QtMainThreadBridge : public MainThreadBridge {
public:
  // `target` lives on the window thread and outlives every worker.
  explicit QtMainThreadBridge(QObject *target) : target_(target) {}
  void RunBlocking(const std::function<void()> &fn) override;

private:
  QObject *target_;
};

// Names the application "Kestrane" for the desktop and the message
// boxes' titles. No display name is set: the window system would append it to
// every caption ("Options — Kestrane").
void NameApplication();

// The program's message box: an information box titled with the program's
// name, the text exactly as given (trailing blanks included).
void ShowMessageBox(QWidget *parent, const std::string &text);
// The standard error box of a failure that escaped a handler.
void ShowErrorBox(QWidget *parent, const std::string &text);
// A question box with Yes and No (No the default); true for Yes.
bool AskQuestionBox(QWidget *parent, const std::string &text);
// A question box with a button for each answer, in order; `fallback` is
// the answer of Escape and of closing the box. The index chosen.
size_t AskChoiceBox(QWidget *parent, const std::string &text,
                    const std::vector<std::string> &answers, size_t fallback);

// MessageSink through the message box, or through the error box.
class QtMessageSink : public MessageSink {
public:
  explicit QtMessageSink(QWidget *parent, bool error = false)
      : parent_(parent), error_(error) {}
  void ShowMessage(const std::string &text) override;
  bool AskYesNo(const std::string &question) override;
  size_t AskChoice(const std::string &question,
                   const std::vector<std::string> &answers,
                   size_t fallback) override;

private:
  QPointer<QWidget> parent_;
  bool error_;
};

// A sink that forwards to a replaceable target: the window hands this one
// to the core once and tests swap what is behind it.
class ForwardingSink : public MessageSink {
public:
  explicit ForwardingSink(MessageSink *fallback) : fallback_(fallback) {}
  void SetTarget(MessageSink *target) { target_ = target; }
  void ShowMessage(const std::string &text) override {
    (target_ ? target_ : fallback_)->ShowMessage(text);
  }
  bool AskYesNo(const std::string &question) override {
    return (target_ ? target_ : fallback_)->AskYesNo(question);
  }
  size_t AskChoice(const std::string &question,
                   const std::vector<std::string> &answers,
                   size_t fallback) override {
    return (target_ ? target_ : fallback_)
        ->AskChoice(question, answers, fallback);
  }

private:
  MessageSink *fallback_;
  MessageSink *target_ = nullptr;
};

// Runs a handler of a control; a failure that escapes it is shown in the
// error box `errors` and the program goes on.
template <class F> void Guarded(MessageSink &errors, F &&handler) {
  try {
    handler();
  } catch (const std::exception &e) {
    errors.ShowMessage(e.what());
  }
}

} // namespace kestrane
