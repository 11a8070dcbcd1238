#include "sample/HttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/Errors.h"

namespace kestrane {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z')
      x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z')
      y = static_cast<char>(y - 'A' + 'a');
    if (x != y)
      return false;
  }
  return true;
}

bool ContainsTokenNoCase(std::string_view list, std::string_view token) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string_view::npos)
      comma = list.size();
    std::string_view item = list.substr(start, comma - start);
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
      item.remove_prefix(1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t'))
      item.remove_suffix(1);
    if (EqualNoCase(item, token))
      return true;
    start = comma + 1;
  }
  return false;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string Hex(std::size_t n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%zx", n);
  return buf;
}

// The body in the transfer coding of the answer (chunks and the last chunk
// for a chunked answer).
std::string EncodeBody(const HttpResponse &r) {
  if (!r.Chunked)
    return r.Body;
  std::string out;
  const std::size_t step = r.ChunkSize == 0 ? r.Body.size() : r.ChunkSize;
  for (std::size_t at = 0; at < r.Body.size(); at += step) {
    const std::size_t len = std::min(step, r.Body.size() - at);
    out += Hex(len);
    out += "\r\n";
    out.append(r.Body, at, len);
    out += "\r\n";
  }
  out += "0\r\n\r\n";
  return out;
}

bool HasHeader(const HttpHeaders &headers, std::string_view name) {
  for (const auto &h : headers)
    if (EqualNoCase(h.first, name))
      return true;
  return false;
}

// The result of parsing a request head: the request, or the status of the
// error answer that goes out instead.
struct Parsed {
  HttpRequest request;
  std::size_t contentLength = 0;
  int errorStatus = 0;
  const char *errorReason = "";
};

Parsed Error(int status, const char *reason) {
  Parsed p;
  p.errorStatus = status;
  p.errorReason = reason;
  return p;
}

bool IsTokenChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool IsToken(std::string_view s) {
  if (s.empty())
    return false;
  for (char c : s)
    if (c == '\0' || !IsTokenChar(c))
      return false;
  return true;
}

Parsed ParseHead(std::string_view head, std::size_t maxBody) {
  Parsed p;
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < head.size()) {
    std::size_t nl = head.find('\n', start);
    if (nl == std::string_view::npos)
      nl = head.size();
    std::string_view line = head.substr(start, nl - start);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    lines.push_back(line);
    start = nl + 1;
  }
  // The head ends with its empty line; drop it (and nothing else).
  while (!lines.empty() && lines.back().empty())
    lines.pop_back();
  if (lines.empty())
    return Error(400, "Bad Request");

  const std::string_view requestLine = lines[0];
  const std::size_t sp1 = requestLine.find(' ');
  const std::size_t sp2 = sp1 == std::string_view::npos
                              ? std::string_view::npos
                              : requestLine.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos ||
      requestLine.find(' ', sp2 + 1) != std::string_view::npos)
    return Error(400, "Bad Request");
  HttpRequest &r = p.request;
  r.Method = requestLine.substr(0, sp1);
  r.Target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
  r.Version = requestLine.substr(sp2 + 1);
  if (!IsToken(r.Method) || r.Target.empty() ||
      r.Target.find_first_of(std::string_view("\0\r\t", 3)) !=
          std::string::npos)
    return Error(400, "Bad Request");
  if (r.Version != "HTTP/1.1" && r.Version != "HTTP/1.0")
    return Error(505, "HTTP Version Not Supported");

  std::optional<std::size_t> length;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon)))
      return Error(400, "Bad Request");
    std::string_view name = line.substr(0, colon);
    std::string_view value = Trim(line.substr(colon + 1));
    r.Headers.emplace_back(std::string(name), std::string(value));
    if (EqualNoCase(name, "Transfer-Encoding"))
      return Error(501, "Not Implemented");
    if (EqualNoCase(name, "Content-Length")) {
      if (value.empty() || value.size() > 18)
        return Error(400, "Bad Request");
      std::size_t n = 0;
      for (char c : value) {
        if (c < '0' || c > '9')
          return Error(400, "Bad Request");
        n = n * 10 + static_cast<std::size_t>(c - '0');
      }
      if (length && *length != n)
        return Error(400, "Bad Request");
      length = n;
    }
  }
  if (length && *length > maxBody)
    return Error(413, "Payload Too Large");
  p.contentLength = length.value_or(0);
  return p;
}

// Where the head ends (just past its empty line), searching from `from`;
// npos while it has not arrived. Bare LF line ends are accepted too.
std::size_t FindHeadEnd(const std::string &buf, std::size_t from) {
  for (std::size_t i = from; i < buf.size(); ++i) {
    if (buf[i] != '\n')
      continue;
    if (i >= 1 && buf[i - 1] == '\n')
      return i + 1;
    if (i >= 3 && buf[i - 1] == '\r' && buf[i - 2] == '\n' &&
        buf[i - 3] == '\r')
      return i + 1;
    // A head that starts with its empty line.
    if (i == 0 || (i == 1 && buf[0] == '\r'))
      return i + 1;
  }
  return std::string::npos;
}

bool RequestWantsClose(const HttpRequest &r) {
  const std::string connection = r.Header("Connection");
  if (ContainsTokenNoCase(connection, "close"))
    return true;
  return r.Version == "HTTP/1.0" &&
         !ContainsTokenNoCase(connection, "keep-alive");
}

} // namespace

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto &h : Headers)
    if (EqualNoCase(h.first, name))
      return h.second;
  return {};
}

bool HttpRequest::HasHeader(std::string_view name) const {
  return kestrane::HasHeader(Headers, name);
}

HttpResponse HttpResponse::Make(int status, std::string reason,
                                std::string body, std::string contentType) {
  HttpResponse r;
  r.Status = status;
  r.Reason = std::move(reason);
  r.Body = std::move(body);
  if (!contentType.empty())
    r.Headers.emplace_back("Content-Type", std::move(contentType));
  return r;
}

HttpServer::HttpServer(HttpHandler handler, HttpServerOptions options)
    : handler_(std::move(handler)), options_(std::move(options)) {
  if (options_.Addresses.empty())
    options_.Addresses.push_back("127.0.0.1");
  std::vector<in_addr> addrs;
  for (const std::string &a : options_.Addresses) {
    in_addr ia{};
    if (inet_pton(AF_INET, a.c_str(), &ia) != 1 ||
        (ntohl(ia.s_addr) >> 24) != 127)
      throw KError("Not a loopback address: " + a);
    addrs.push_back(ia);
  }

  // With port 0 the first address picks the port and the others take the
  // same; when one of them has it taken already, try another port.
  const int tries = options_.Port == 0 ? 50 : 1;
  std::string lastError;
  for (int attempt = 0; attempt < tries && listeners_.empty(); ++attempt) {
    uint16_t port = options_.Port;
    std::vector<int> fds;
    bool ok = true;
    for (const in_addr &ia : addrs) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd < 0) {
        lastError = std::strerror(errno);
        ok = false;
        break;
      }
      fds.push_back(fd);
      const int one = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      sockaddr_in sa{};
      sa.sin_family = AF_INET;
      sa.sin_addr = ia;
      sa.sin_port = htons(port);
      if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
          ::listen(fd, 128) != 0) {
        lastError = std::strerror(errno);
        ok = false;
        break;
      }
      if (port == 0) {
        socklen_t len = sizeof sa;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
        port = ntohs(sa.sin_port);
      }
    }
    if (ok) {
      listeners_ = fds;
      port_ = port;
    } else {
      for (int fd : fds)
        ::close(fd);
    }
  }
  if (listeners_.empty())
    throw KError("Cannot listen on port " + std::to_string(options_.Port) +
                 ": " + lastError);
  listenerAddresses_ = options_.Addresses;

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    for (int fd : listeners_)
      ::close(fd);
    throw KError(std::string("Cannot create the server's pipe: ") +
                 std::strerror(errno));
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  acceptThread_ = std::thread(&HttpServer::AcceptLoop, this);
}

HttpServer::~HttpServer() {
  Stop();
}

std::string HttpServer::BaseUrl(std::size_t addressIndex) const {
  return "http://" + options_.Addresses.at(addressIndex) + ":" +
         std::to_string(port_);
}

void HttpServer::AcceptLoop() {
  std::vector<pollfd> fds;
  for (int fd : listeners_)
    fds.push_back({fd, POLLIN, 0});
  fds.push_back({wakeRead_, POLLIN, 0});
  while (!Stopping()) {
    for (auto &p : fds)
      p.revents = 0;
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    if (fds.back().revents != 0)
      return;
    for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
      if ((fds[i].revents & POLLIN) == 0)
        continue;
      const int fd = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0)
        continue;
      const uint64_t id = ++connections_;
      ReapFinished();
      std::lock_guard lock(mutex_);
      std::size_t active = 0;
      for (const Connection &c : conns_)
        active += c.done ? 0 : 1;
      if (Stopping() || active >= options_.MaxConnections) {
        ::close(fd);
        continue;
      }
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      Connection &conn = conns_.emplace_back();
      conn.fd = fd;
      conn.thread = std::thread(&HttpServer::Serve, this, &conn, id,
                                listenerAddresses_[i], port_);
    }
  }
}

void HttpServer::ReapFinished() {
  std::lock_guard lock(mutex_);
  for (auto it = conns_.begin(); it != conns_.end();) {
    if (it->done) {
      // The thread has nothing left to do but return.
      if (it->thread.joinable())
        it->thread.join();
      it = conns_.erase(it);
    } else {
      ++it;
    }
  }
}

bool HttpServer::Pause(int ms) {
  if (ms <= 0)
    return !Stopping();
  std::unique_lock lock(mutex_);
  stopCv_.wait_for(lock, std::chrono::milliseconds(ms),
                   [this] { return Stopping(); });
  return !Stopping();
}

void HttpServer::Finish(Connection *conn, bool reset) {
  std::lock_guard lock(mutex_);
  if (conn->fd >= 0) {
    if (reset) {
      // Closing with a zero linger time sends RST instead of FIN.
      linger lg{1, 0};
      ::setsockopt(conn->fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    } else {
      ::shutdown(conn->fd, SHUT_WR);
    }
    ::close(conn->fd);
    conn->fd = -1;
  }
  conn->done = true;
}

namespace {

// How the connection goes on after an answer.
enum class After { KeepOpen, Close, Reset };

struct Sender {
  int fd;
  std::function<bool(int)> pause;

  After Send(const HttpRequest &req, const HttpResponse &r) {
    if (r.DelayMs > 0 && !pause(r.DelayMs))
      return After::Close;
    if (r.Fault == HttpFault::Reset)
      return After::Reset;
    if (r.Fault == HttpFault::CloseWithoutAnswer)
      return After::Close;

    const bool endless = r.Fault == HttpFault::EndlessBody;
    bool close = r.Close || r.SilentClose || RequestWantsClose(req) ||
                 r.Version == "HTTP/1.0" || endless ||
                 r.Fault == HttpFault::EndlessHeaders;
    std::string head =
        r.StatusLine.empty()
            ? r.Version + " " + std::to_string(r.Status) + " " + r.Reason
            : r.StatusLine;
    head += "\r\n";
    if (r.Fault == HttpFault::EndlessHeaders) {
      if (SendAll(fd, head))
        Endless(head.size(), r.EndlessLimit, 0, [](std::size_t n) {
          return "X-Filler-" + std::to_string(n) + ": " + std::string(64, 'x') +
                 "\r\n";
        });
      return After::Close;
    }
    for (const auto &h : r.Headers)
      head += h.first + ": " + h.second + "\r\n";
    if (r.Chunked) {
      head += "Transfer-Encoding: chunked\r\n";
    } else if (r.ContentLength && !endless &&
               !HasHeader(r.Headers, "Content-Length")) {
      head += "Content-Length: " + std::to_string(r.Body.size()) + "\r\n";
    } else if (!r.ContentLength) {
      close = true; // the body ends with the connection
    }
    if ((r.Close || RequestWantsClose(req)) && !r.SilentClose &&
        !HasHeader(r.Headers, "Connection"))
      head += "Connection: close\r\n";
    head += "\r\n";

    const bool withBody = req.Method != "HEAD";
    if (endless) {
      if (SendAll(fd, head)) {
        const std::string unit = r.Body.empty() ? std::string("x") : r.Body;
        Endless(0, r.EndlessLimit, r.TrickleMs, [&](std::size_t) {
          return r.Chunked ? Hex(unit.size()) + "\r\n" + unit + "\r\n" : unit;
        });
      }
      return After::Close;
    }
    const std::string body = withBody ? EncodeBody(r) : std::string();
    if (r.Fault == HttpFault::PartialBody ||
        r.Fault == HttpFault::PartialBodyThenReset) {
      std::string bytes = head;
      if (r.Chunked && withBody)
        bytes += Hex(r.Body.size()) + "\r\n";
      if (withBody)
        bytes.append(r.Body, 0, std::min(r.PartialBytes, r.Body.size()));
      SendAll(fd, bytes);
      return r.Fault == HttpFault::PartialBody ? After::Close : After::Reset;
    }
    if (r.Fault == HttpFault::StallAfterHeaders) {
      if (!SendAll(fd, head) || !pause(r.StallMs) || !SendAll(fd, body))
        return After::Close;
      return close ? After::Close : After::KeepOpen;
    }
    if (!SendAll(fd, head + body))
      return After::Close;
    return close ? After::Close : After::KeepOpen;
  }

  // Sends piece(n) for n = 1, 2, ... until the client goes, the server
  // stops (pause fails) or limit bytes have gone out (0: no limit). With
  // trickleMs above 0 one piece goes at a time, with that pause after it.
  template <typename Piece>
  void Endless(std::size_t sent, std::size_t limit, int trickleMs,
               Piece piece) {
    for (std::size_t n = 1;; ++n) {
      std::string bytes;
      do
        bytes += piece(n++);
      while (trickleMs <= 0 && bytes.size() < 16 * 1024);
      if (limit != 0 && sent + bytes.size() > limit)
        bytes.resize(limit - std::min(limit, sent));
      if (bytes.empty() || !SendAll(fd, bytes) || !pause(trickleMs))
        return;
      sent += bytes.size();
      if (limit != 0 && sent >= limit)
        return;
    }
  }
};

} // namespace

void HttpServer::Serve(Connection *conn, uint64_t id, std::string localAddress,
                       uint16_t localPort) {
  const int fd = conn->fd; // stays open until Finish
  Sender sender{fd, [this](int ms) { return Pause(ms); }};
  std::string buf;
  std::size_t scanned = 0;
  uint32_t index = 0;
  After after = After::Close;
  char chunk[16 * 1024];

  auto receive = [&]() -> bool {
    for (;;) {
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n > 0) {
        buf.append(chunk, static_cast<std::size_t>(n));
        return true;
      }
      if (n < 0 && errno == EINTR)
        continue;
      return false; // the client went, or the server is stopping
    }
  };
  // Answers a bad request, then reads and drops what the client still
  // sends for a moment: closing with unread data would reset the
  // connection, and the client could lose the answer.
  auto refuse = [&](int status, const char *reason) {
    HttpRequest none;
    HttpResponse r = HttpResponse::Make(status, reason, reason, "text/plain");
    r.Close = true;
    sender.Send(none, r);
    ::shutdown(fd, SHUT_WR);
    std::size_t dropped = 0;
    pollfd p{fd, POLLIN, 0};
    while (dropped < 1024 * 1024 && ::poll(&p, 1, 200) > 0) {
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0)
        break;
      dropped += static_cast<std::size_t>(n);
    }
  };

  while (!Stopping()) {
    std::size_t headEnd = FindHeadEnd(buf, scanned);
    bool gone = false;
    while (headEnd == std::string::npos &&
           buf.size() <= options_.MaxHeaderBytes) {
      scanned = buf.size();
      if (!receive()) {
        gone = true;
        break;
      }
      headEnd = FindHeadEnd(buf, scanned >= 3 ? scanned - 3 : 0);
    }
    if (gone)
      break;
    if (headEnd == std::string::npos || headEnd > options_.MaxHeaderBytes) {
      refuse(431, "Request Header Fields Too Large");
      break;
    }
    Parsed parsed = ParseHead(std::string_view(buf).substr(0, headEnd),
                              options_.MaxBodyBytes);
    if (parsed.errorStatus != 0) {
      refuse(parsed.errorStatus, parsed.errorReason);
      break;
    }
    const std::size_t total = headEnd + parsed.contentLength;
    bool complete = true;
    while (buf.size() < total && (complete = receive()))
      ;
    if (!complete)
      break;

    HttpRequest &req = parsed.request;
    req.Raw = buf.substr(0, total);
    req.Body = buf.substr(headEnd, parsed.contentLength);
    buf.erase(0, total);
    scanned = 0;
    req.LocalAddress = localAddress;
    req.LocalPort = localPort;
    req.ConnectionId = id;
    req.IndexOnConnection = ++index;
    if (options_.RecordRequests) {
      std::lock_guard lock(mutex_);
      recorded_.push_back(req);
    }
    ++requests_;

    HttpResponse response;
    try {
      response = handler_(req);
    } catch (...) {
      response = HttpResponse::Make(500, "Internal Server Error",
                                    "Internal Server Error", "text/plain");
    }
    after = sender.Send(req, response);
    if (after != After::KeepOpen)
      break;
  }
  Finish(conn, after == After::Reset);
}

void HttpServer::Stop() {
  std::lock_guard stopLock(stopMutex_);
  if (stopped_)
    return;
  stopped_ = true;
  stopping_ = true;
  {
    std::lock_guard lock(mutex_);
    stopCv_.notify_all();
    // Wakes every thread blocked in recv or send on its connection.
    for (Connection &c : conns_)
      if (c.fd >= 0)
        ::shutdown(c.fd, SHUT_RDWR);
  }
  const char wake = 'x';
  [[maybe_unused]] ssize_t ignored = ::write(wakeWrite_, &wake, 1);
  if (acceptThread_.joinable())
    acceptThread_.join();
  std::list<Connection> all;
  {
    std::lock_guard lock(mutex_);
    all.splice(all.end(), conns_);
  }
  for (Connection &c : all)
    if (c.thread.joinable())
      c.thread.join();
  for (int fd : listeners_)
    ::close(fd);
  listeners_.clear();
  ::close(wakeRead_);
  ::close(wakeWrite_);
  wakeRead_ = wakeWrite_ = -1;
}

std::vector<HttpRequest> HttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return recorded_;
}

std::vector<std::string> HttpServer::RawRequests() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> raw;
  raw.reserve(recorded_.size());
  for (const HttpRequest &r : recorded_)
    raw.push_back(r.Raw);
  return raw;
}

void HttpServer::ClearRecorded() {
  std::lock_guard lock(mutex_);
  recorded_.clear();
}

} // namespace kestrane
