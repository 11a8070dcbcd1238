#pragma once
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrane {

// What kind of failure a KError reports. The windows only show the text;
// the command-line programs turn the cause into their exit status
// (platform/ExitStatus.h), so that one fault ends every command alike.
enum class ErrorCause {
  InputRefused, // a value the run does not take: a zoom or edge out of
                // range, an area too large, a file without features, an
                // output that would replace the project file
  CannotOpen,   // a file or folder the run reads is missing or unreadable
  InvalidFile,  // a file that can be read but is not what it should be:
                // not a project file, not a map file
  CannotWrite,  // a file or folder could not be created or written
  SystemFailed, // the system or a library failed at what the run needs:
                // the HTTP library, the JPEG encoder, a listening socket
};

// A failure that carries its cause and the system's own text ("Unable to
// write to %s", "Cannot open file %s", ...). Windows show what() as it
// stands; the command line prints it.
class KError : public std::runtime_error {
public:
  KError(ErrorCause cause, const std::string &text)
      : std::runtime_error(text), cause_(cause) {}
  ErrorCause Cause() const noexcept { return cause_; }

private:
  ErrorCause cause_;
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
  // A question with the given answers (one button each, in this order);
  // the index of the one chosen. A sink that cannot ask shows the text and
  // answers `fallback`, the answer that leaves everything as it was (also
  // what closing the box answers).
  virtual size_t AskChoice(const std::string &question,
                           const std::vector<std::string> & /*answers*/,
                           size_t fallback) {
    ShowMessage(question);
    return fallback;
  }
};

} // namespace kestrane
