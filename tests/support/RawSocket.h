#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrane::test {

// A plain TCP client for looking at exactly what a server sends. Every read
// waits at most a bounded time (a safety net, not a measured time-out).
class RawSocket {
public:
  RawSocket(const std::string &address, uint16_t port);
  ~RawSocket();
  RawSocket(const RawSocket &) = delete;
  RawSocket &operator=(const RawSocket &) = delete;

  bool Connected() const { return fd_ >= 0; }
  bool Send(std::string_view bytes);
  // Reads until the peer closes (or resets) the connection.
  std::string ReadAll();
  // Reads until `marker` has arrived, or the peer closes; returns what came.
  std::string ReadUntil(std::string_view marker);
  // Reads one complete answer with a Content-Length (headers and body).
  std::string ReadAnswer();
  // The errno of the read that ended ReadAll/ReadUntil: 0 for a clean close
  // (FIN), ECONNRESET for a reset, EAGAIN when the safety net ran out.
  int LastError() const { return lastError_; }
  // Half-closes the sending side.
  void ShutdownWrite();

private:
  bool ReadSome(std::string &into);
  int fd_ = -1;
  int lastError_ = 0;
  std::string pending_;
};

// A free loopback port at the time of the call (nothing listens on it).
uint16_t FreeLoopbackPort();

} // namespace kestrane::test
