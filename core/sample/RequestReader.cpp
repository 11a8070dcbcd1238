#include "sample/RequestReader.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "sample/HttpMessage.h"

namespace kestrane::http_detail {

std::optional<HttpRequest>
RequestReader::Next(const HttpServerOptions &options) {
  deadline_ = options.IdleTimeout.count() > 0
                  ? Clock::now() + options.IdleTimeout
                  : Clock::time_point::max();
  std::size_t headEnd = FindHeadEnd(buf_, scanned_);
  while (headEnd == std::string::npos &&
         buf_.size() <= options.MaxHeaderBytes) {
    scanned_ = buf_.size();
    if (!Receive())
      return std::nullopt;
    headEnd = FindHeadEnd(buf_, scanned_ >= 3 ? scanned_ - 3 : 0);
  }
  if (headEnd == std::string::npos || headEnd > options.MaxHeaderBytes) {
    Refuse(431, "Request Header Fields Too Large");
    return std::nullopt;
  }
  ParsedHead parsed = ParseHead(std::string_view(buf_).substr(0, headEnd),
                                options.MaxBodyBytes);
  if (parsed.errorStatus != 0) {
    Refuse(parsed.errorStatus, parsed.errorReason);
    return std::nullopt;
  }
  const std::size_t total = headEnd + parsed.contentLength;
  while (buf_.size() < total)
    if (!Receive())
      return std::nullopt;
  HttpRequest &req = parsed.request;
  req.Raw = buf_.substr(0, total);
  req.Body = buf_.substr(headEnd, parsed.contentLength);
  buf_.erase(0, total);
  scanned_ = 0;
  return std::move(req);
}

// Waits until bytes (or the end of the connection) arrive; false when the
// deadline passes first.
bool RequestReader::WaitForBytes() {
  for (;;) {
    int timeout = -1;
    if (deadline_ != Clock::time_point::max()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          deadline_ - Clock::now());
      if (left.count() <= 0)
        return false;
      timeout = static_cast<int>(
          std::min<std::chrono::milliseconds::rep>(left.count(), 60000));
    }
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, timeout);
    if (r > 0)
      return true;
    if (r < 0 && errno != EINTR)
      return false;
  }
}

bool RequestReader::Receive() {
  for (;;) {
    if (!WaitForBytes())
      return false; // the client kept the connection idle too long
    const ssize_t n = ::recv(fd_, chunk_, sizeof chunk_, 0);
    if (n > 0) {
      buf_.append(chunk_, static_cast<std::size_t>(n));
      return true;
    }
    if (n < 0 && errno == EINTR)
      continue;
    return false; // the client went, or the server is stopping
  }
}

// Answers a bad request, then reads and drops what the client still sends
// for a moment: closing with unread data would reset the connection, and
// the client could lose the answer.
void RequestReader::Refuse(int status, const char *reason) {
  refuse_(status, reason);
  ::shutdown(fd_, SHUT_WR);
  std::size_t dropped = 0;
  pollfd p{fd_, POLLIN, 0};
  while (dropped < std::size_t{1024} * 1024 && ::poll(&p, 1, 200) > 0) {
    const ssize_t n = ::recv(fd_, chunk_, sizeof chunk_, 0);
    if (n <= 0)
      break;
    dropped += static_cast<std::size_t>(n);
  }
}

} // namespace kestrane::http_detail
