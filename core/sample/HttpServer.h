#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/StopSignal.h"
#include "platform/UniqueFd.h"

namespace kestrane {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// One request as it arrived.
struct HttpRequest {
  std::string Method;       // "GET"
  std::string Target;       // "/tiles/svi0123?g=5340&dir=dir_n", or a whole URL
  std::string Version;      // "HTTP/1.1"
  HttpHeaders Headers;      // in the order sent, names as sent
  std::string Body;         // by Content-Length; empty without
  std::string Raw;          // every byte of the request: line, headers, body
  std::string LocalAddress; // the listening address it came in on
  uint16_t LocalPort = 0;
  uint64_t ConnectionId = 0;      // 1 for the first connection accepted, ...
  uint32_t IndexOnConnection = 0; // 1 for a connection's first request

  // The first header of that name, compared without regard to case; "" when
  // there is none.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
};

// What to do instead of, or in the middle of, a normal answer.
enum class HttpFault {
  None,
  Reset,                // no answer: the connection is reset (RST)
  CloseWithoutAnswer,   // no answer: the connection is closed (FIN)
  PartialBody,          // headers and PartialBytes of the body, then FIN
  PartialBodyThenReset, // headers and PartialBytes of the body, then RST
  StallAfterHeaders,    // headers, a pause of StallMs, then the body
  EndlessBody,          // headers, then body bytes until the client goes
  EndlessHeaders,       // the status line, then header lines without end
};

// The handler's answer. Unless a fault says otherwise the server sends the
// status line, Headers, the framing headers it adds itself (Content-Length,
// or "Transfer-Encoding: chunked", and "Connection: close" when Close is
// set), the empty line and the body.
struct HttpResponse {
  int Status = 200;
  std::string Reason = "OK";
  std::string Version = "HTTP/1.1";
  // When non-empty, sent as the status line in place of Version, Status and
  // Reason (without its CR LF): for odd status lines.
  std::string StatusLine;
  HttpHeaders Headers;
  std::string Body;

  bool Chunked = false;      // chunked transfer coding
  std::size_t ChunkSize = 0; // bytes per chunk; 0: the body in one chunk
  // Without chunks and with this false, no Content-Length is sent and the
  // body ends when the connection is closed (which then follows).
  bool ContentLength = true;
  bool Close = false;       // "Connection: close", then close
  bool SilentClose = false; // close after the answer without saying so

  int DelayMs = 0; // before anything is sent
  HttpFault Fault = HttpFault::None;
  std::size_t PartialBytes = 0; // PartialBody*: body bytes sent
  int StallMs = 0;              // StallAfterHeaders
  // EndlessBody and EndlessHeaders: stop (and close) after this many bytes;
  // 0 means no limit. EndlessBody repeats Body ("x" when empty).
  std::size_t EndlessLimit = 0;
  // EndlessBody: with a value above 0, one Body at a time with this pause
  // between them (a server that trickles); otherwise as fast as it goes.
  int TrickleMs = 0;

  // A complete answer with a body and, when given, its Content-Type.
  static HttpResponse Make(int status, std::string reason, std::string body,
                           std::string contentType = {});
};

// Called on the connection's thread, possibly for several connections at
// once: it must be safe to call from many threads.
using HttpHandler = std::function<HttpResponse(const HttpRequest &)>;

struct HttpServerOptions {
  // Loopback addresses only (127.x.y.z), all on one port.
  std::vector<std::string> Addresses{"127.0.0.1"};
  uint16_t Port = 0;                      // 0: a free port is picked
  bool RecordRequests = true;             // keep a copy of every request
  std::size_t MaxHeaderBytes = 64 * 1024; // more: 400 and close
  std::size_t MaxBodyBytes = 1024 * 1024; // more: 413 and close
  std::size_t MaxConnections = 256;       // more at once: see below
  // A connection that sends no whole request for this long (from its
  // opening, or from the end of its last answer) is closed, so that idle
  // or trickling clients cannot hold the connections for ever. 0: never.
  std::chrono::milliseconds IdleTimeout{30000};
};

// A small HTTP/1.1 server on loopback addresses: a thread per connection,
// keep-alive with many requests per connection, fault injection through the
// handler's answers. Starts listening in the constructor (throws KError when
// it cannot) and stops in the destructor. When MaxConnections are open, a
// new connection takes the place of the one that has waited longest for
// its next request, if that one has waited a second or more; otherwise
// (every connection busy) the new one is closed at once.
class HttpServer {
public:
  HttpServer(HttpHandler handler, HttpServerOptions options = {});
  ~HttpServer();
  HttpServer(const HttpServer &) = delete;
  HttpServer &operator=(const HttpServer &) = delete;

  uint16_t Port() const { return port_; }
  const std::vector<std::string> &Addresses() const {
    return options_.Addresses;
  }
  // "http://" + address + ":" + port, no trailing "/".
  std::string BaseUrl(std::size_t addressIndex = 0) const;

  // Stops listening, ends every connection (pauses and endless answers
  // included) and waits for every thread. Idempotent.
  void Stop();

  uint64_t ConnectionsAccepted() const { return connections_.load(); }
  uint64_t RequestsServed() const { return requests_.load(); }
  // Copies of the recorded requests, in the order they were handed to the
  // handler.
  std::vector<HttpRequest> Requests() const;
  void ClearRecorded();

private:
  struct Connection {
    UniqueFd fd; // guarded by mutex_; holds nothing once closed
    std::thread thread;
    bool done = false; // guarded by mutex_
    // Reading a request, and since when; guarded by mutex_.
    bool waiting = false;
    std::chrono::steady_clock::time_point waitingSince;
  };

  void AcceptLoop();
  void Accept(int listener, std::size_t index);
  void Serve(Connection *conn, uint64_t id, const std::string &localAddress,
             uint16_t localPort);
  void Finish(Connection *conn, bool reset);
  void ReapFinished();
  // Closes the connection that has waited longest for a request, when it
  // has waited long enough; false when there is none. Needs mutex_.
  bool EvictLongestWaiting();
  void SetWaiting(Connection *conn, bool waiting);
  // Sleeps ms milliseconds; false when the server is stopping.
  bool Pause(int ms);
  bool Stopping() const { return stopping_.Requested(); }

  HttpHandler handler_;
  HttpServerOptions options_;
  uint16_t port_ = 0;
  std::vector<UniqueFd> listeners_;
  std::vector<std::string> listenerAddresses_;
  UniqueFd wakeRead_, wakeWrite_; // wakes the accept loop to stop
  std::thread acceptThread_;

  StopFlag stopping_;
  std::atomic<uint64_t> connections_{0};
  std::atomic<uint64_t> requests_{0};

  mutable std::mutex mutex_;
  std::condition_variable stopCv_;
  std::list<Connection> conns_;
  std::vector<HttpRequest> recorded_;
  std::mutex stopMutex_; // one Stop at a time
  bool stopped_ = false;
};

} // namespace kestrane
