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
#include <cstring>
#include <optional>

#include "platform/Errors.h"
#include "sample/HttpMessage.h"
#include "sample/RequestReader.h"

namespace kestrane {

using namespace http_detail;

namespace {

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

// The listening addresses as IPv4 addresses; throws KError for one that is
// not on loopback.
std::vector<in_addr> LoopbackAddresses(const std::vector<std::string> &list) {
  std::vector<in_addr> addrs;
  for (const std::string &a : list) {
    in_addr ia{};
    if (inet_pton(AF_INET, a.c_str(), &ia) != 1 ||
        (ntohl(ia.s_addr) >> 24) != 127)
      throw KError(ErrorCause::InputRefused, "Not a loopback address: " + a);
    addrs.push_back(ia);
  }
  return addrs;
}

// Listens on every address on one port (port 0: the first address picks a
// free one and the others take the same). Empty, with `error` set, when
// one of them cannot; `port` is then the port in use.
std::vector<UniqueFd> ListenAll(const std::vector<in_addr> &addrs,
                                uint16_t &port, std::string &error) {
  std::vector<UniqueFd> fds;
  for (const in_addr &ia : addrs) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
      error = std::strerror(errno);
      return {};
    }
    const int one = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = ia;
    sa.sin_port = htons(port);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        ::listen(fd.Get(), 128) != 0) {
      error = std::strerror(errno);
      return {};
    }
    if (port == 0) {
      socklen_t len = sizeof sa;
      ::getsockname(fd.Get(), reinterpret_cast<sockaddr *>(&sa), &len);
      port = ntohs(sa.sin_port);
    }
    fds.push_back(std::move(fd));
  }
  return fds;
}

} // namespace

HttpServer::HttpServer(HttpHandler handler, HttpServerOptions options)
    : handler_(std::move(handler)), options_(std::move(options)) {
  if (options_.Addresses.empty())
    options_.Addresses.push_back("127.0.0.1");
  const std::vector<in_addr> addrs = LoopbackAddresses(options_.Addresses);

  // With port 0, when one of the addresses has the picked port taken
  // already, try another port.
  const int tries = options_.Port == 0 ? 50 : 1;
  std::string lastError;
  for (int attempt = 0; attempt < tries && listeners_.empty(); ++attempt) {
    uint16_t port = options_.Port;
    listeners_ = ListenAll(addrs, port, lastError);
    if (!listeners_.empty())
      port_ = port;
  }
  if (listeners_.empty())
    throw KError(ErrorCause::SystemFailed, "Cannot listen on port " +
                                               std::to_string(options_.Port) +
                                               ": " + lastError);
  listenerAddresses_ = options_.Addresses;

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0)
    throw KError(ErrorCause::SystemFailed,
                 std::string("Cannot create the server's pipe: ") +
                     std::strerror(errno));
  wakeRead_.Reset(pipeFds[0]);
  wakeWrite_.Reset(pipeFds[1]);
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
  for (const UniqueFd &fd : listeners_)
    fds.push_back({fd.Get(), POLLIN, 0});
  fds.push_back({wakeRead_.Get(), POLLIN, 0});
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
    for (std::size_t i = 0; i + 1 < fds.size(); ++i)
      if ((fds[i].revents & POLLIN) != 0)
        Accept(fds[i].fd, i);
  }
}

// Takes one waiting connection on listener `fd` (the address at `index`)
// and starts its thread; closes it at once when the server is stopping or
// serves MaxConnections already.
void HttpServer::Accept(int fd, std::size_t index) {
  UniqueFd client(::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC));
  if (!client.Valid())
    return;
  const uint64_t id = ++connections_;
  ReapFinished();
  std::lock_guard lock(mutex_);
  std::size_t active = 0;
  for (const Connection &c : conns_)
    active += c.done ? 0 : 1;
  if (Stopping() ||
      (active >= options_.MaxConnections && !EvictLongestWaiting()))
    return;
  const int one = 1;
  ::setsockopt(client.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Connection &conn = conns_.emplace_back();
  conn.waiting = true;
  conn.waitingSince = std::chrono::steady_clock::now();
  conn.fd = std::move(client);
  conn.thread = std::thread(&HttpServer::Serve, this, &conn, id,
                            listenerAddresses_[index], port_);
}

bool HttpServer::EvictLongestWaiting() {
  // A client waits a moment between a keep-alive answer and its next
  // request; only a connection idle for longer than that gives way.
  constexpr std::chrono::seconds kEvictableAfter{1};
  Connection *longest = nullptr;
  for (Connection &c : conns_)
    if (!c.done && c.waiting && c.fd.Valid() &&
        (longest == nullptr || c.waitingSince < longest->waitingSince))
      longest = &c;
  if (longest == nullptr ||
      std::chrono::steady_clock::now() - longest->waitingSince <
          kEvictableAfter)
    return false;
  // Its thread sees the end of the connection and finishes it.
  ::shutdown(longest->fd.Get(), SHUT_RDWR);
  longest->waiting = false;
  return true;
}

void HttpServer::SetWaiting(Connection *conn, bool waiting) {
  std::lock_guard lock(mutex_);
  conn->waiting = waiting;
  conn->waitingSince = std::chrono::steady_clock::now();
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
  if (conn->fd.Valid()) {
    if (reset) {
      // Closing with a zero linger time sends RST instead of FIN.
      linger lg{1, 0};
      ::setsockopt(conn->fd.Get(), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    } else {
      ::shutdown(conn->fd.Get(), SHUT_WR);
    }
    conn->fd.Reset();
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
    if (r.Fault == HttpFault::EndlessHeaders) {
      SendEndlessHeaders(r);
      return After::Close;
    }
    bool close = false;
    const std::string head = AnswerHead(req, r, close);
    if (r.Fault == HttpFault::EndlessBody) {
      SendEndlessBody(head, r);
      return After::Close;
    }
    const bool withBody = req.Method != "HEAD";
    if (r.Fault == HttpFault::PartialBody ||
        r.Fault == HttpFault::PartialBodyThenReset) {
      SendPartial(head, r, withBody);
      return r.Fault == HttpFault::PartialBody ? After::Close : After::Reset;
    }
    const std::string body = withBody ? EncodeBody(r) : std::string();
    if (r.Fault == HttpFault::StallAfterHeaders) {
      if (!SendAll(fd, head) || !pause(r.StallMs) || !SendAll(fd, body))
        return After::Close;
    } else if (!SendAll(fd, head + body)) {
      return After::Close;
    }
    return close ? After::Close : After::KeepOpen;
  }

  // The status line, then header lines without end.
  void SendEndlessHeaders(const HttpResponse &r) {
    const std::string status = StatusLine(r);
    if (SendAll(fd, status))
      Endless(status.size(), r.EndlessLimit, 0, [](std::size_t n) {
        return "X-Filler-" + std::to_string(n) + ": " + std::string(64, 'x') +
               "\r\n";
      });
  }

  // The head, then the body ("x" when empty) over and over.
  void SendEndlessBody(const std::string &head, const HttpResponse &r) {
    if (!SendAll(fd, head))
      return;
    const std::string unit = r.Body.empty() ? std::string("x") : r.Body;
    Endless(0, r.EndlessLimit, r.TrickleMs, [&](std::size_t) {
      return r.Chunked ? Hex(unit.size()) + "\r\n" + unit + "\r\n" : unit;
    });
  }

  // The head and the first PartialBytes of the body (in a chunk announced
  // whole when chunked).
  void SendPartial(const std::string &head, const HttpResponse &r,
                   bool withBody) {
    std::string bytes = head;
    if (r.Chunked && withBody)
      bytes += Hex(r.Body.size()) + "\r\n";
    if (withBody)
      bytes.append(r.Body, 0, std::min(r.PartialBytes, r.Body.size()));
    SendAll(fd, bytes);
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
      while (trickleMs <= 0 && bytes.size() < std::size_t{16} * 1024);
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

// The handler's answer; a handler that throws gets a 500 answered for it.
HttpResponse Answer(const HttpHandler &handler, const HttpRequest &req) {
  try {
    return handler(req);
  } catch (...) {
    return HttpResponse::Make(500, "Internal Server Error",
                              "Internal Server Error", "text/plain");
  }
}

} // namespace

void HttpServer::Serve(Connection *conn, uint64_t id,
                       const std::string &localAddress, uint16_t localPort) {
  const int fd = conn->fd.Get(); // stays open until Finish
  Sender sender{fd, [this](int ms) { return Pause(ms); }};
  RequestReader reader(fd, [&sender](int status, const char *reason) {
    HttpResponse r = HttpResponse::Make(status, reason, reason, "text/plain");
    r.Close = true;
    sender.Send(HttpRequest(), r);
  });
  uint32_t index = 0;
  After after = After::Close;
  while (!Stopping()) {
    std::optional<HttpRequest> req = reader.Next(options_);
    if (!req)
      break;
    SetWaiting(conn, false);
    req->LocalAddress = localAddress;
    req->LocalPort = localPort;
    req->ConnectionId = id;
    req->IndexOnConnection = ++index;
    if (options_.RecordRequests) {
      std::lock_guard lock(mutex_);
      recorded_.push_back(*req);
    }
    ++requests_;
    after = sender.Send(*req, Answer(handler_, *req));
    if (after != After::KeepOpen)
      break;
    SetWaiting(conn, true);
  }
  Finish(conn, after == After::Reset);
}

void HttpServer::Stop() {
  std::lock_guard stopLock(stopMutex_);
  if (stopped_)
    return;
  stopped_ = true;
  stopping_.Request();
  {
    std::lock_guard lock(mutex_);
    stopCv_.notify_all();
    // Wakes every thread blocked in recv or send on its connection.
    for (Connection &c : conns_)
      if (c.fd.Valid())
        ::shutdown(c.fd.Get(), SHUT_RDWR);
  }
  const char wake = 'x';
  [[maybe_unused]] ssize_t ignored = ::write(wakeWrite_.Get(), &wake, 1);
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
  listeners_.clear();
  wakeRead_.Reset();
  wakeWrite_.Reset();
}

std::vector<HttpRequest> HttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return recorded_;
}

void HttpServer::ClearRecorded() {
  std::lock_guard lock(mutex_);
  recorded_.clear();
}

} // namespace kestrane
