#pragma once
#include <stdexcept>
#include <string>

namespace kestrane {

// A failure that carries the system's own text ("Unable to write to %s",
// "Cannot open file %s", ...). Windows show what() as it stands; the command
// line prints it.
class KError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Receives the message boxes of the task control and the tools. The windows
// show a message box, the command line prints to stderr, tests record.
class MessageSink {
public:
  virtual ~MessageSink() = default;
  virtual void ShowMessage(const std::string &text) = 0;
  // A question with Yes and No; true for Yes. A sink that cannot ask shows
  // the text and answers No, which leaves everything as it was.
  virtual bool AskYesNo(const std::string &question) {
    ShowMessage(question);
    return false;
  }
};

} // namespace kestrane
