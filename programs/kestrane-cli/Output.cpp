#include <cstdio>
#include <string>

#include "Commands.h"
#include "platform/ExitStatus.h"

namespace kestrane::cli {

int Fail(const KError &failure) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", failure.what());
  return ExitStatusFor(failure.Cause());
}

int Fail(ErrorCause cause, const std::string &text) {
  return Fail(KError(cause, text));
}

void PrintPaneLine(const std::string &line) {
  // A socket failure's text carries a CR LF inside its line; the terminal
  // and pipes take a plain line feed there, as the window shows two lines.
  std::string out;
  out.reserve(line.size() + 1);
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n')
      continue;
    out += line[i];
  }
  out += '\n';
  std::fwrite(out.data(), 1, out.size(), stdout);
}

} // namespace kestrane::cli
