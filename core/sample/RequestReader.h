#pragma once
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "sample/HttpServer.h"

namespace kestrane::http_detail {

// Reads the requests of one connection of the loopback server from its
// socket, each within the server's IdleTimeout.
class RequestReader {
public:
  // Sends the error answer to a bad request; the reader then ends the
  // connection.
  using Refusal = std::function<void(int status, const char *reason)>;

  RequestReader(int fd, Refusal refuse) : fd_(fd), refuse_(std::move(refuse)) {}

  // The next whole request (head and body), or nullopt when the connection
  // ends: the client went, it sent no whole request within IdleTimeout (from
  // this call on), or a bad request was refused.
  std::optional<HttpRequest> Next(const HttpServerOptions &options);

private:
  using Clock = std::chrono::steady_clock;

  bool WaitForBytes();
  bool Receive();
  void Refuse(int status, const char *reason);

  int fd_;
  Refusal refuse_;
  std::string buf_;
  std::size_t scanned_ = 0;
  Clock::time_point deadline_ = Clock::time_point::max();
  char chunk_[16 * 1024];
};

} // namespace kestrane::http_detail
