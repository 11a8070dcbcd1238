#include "tests/support/RawSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kestrane::test {

RawSocket::RawSocket(const std::string &address, uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0)
    return;
  timeval tv{10, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1 ||
      ::connect(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

RawSocket::~RawSocket() {
  if (fd_ >= 0)
    ::close(fd_);
}

bool RawSocket::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0)
      return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void RawSocket::ShutdownWrite() {
  ::shutdown(fd_, SHUT_WR);
}

bool RawSocket::ReadSome(std::string &into) {
  char buf[16384];
  for (;;) {
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n > 0) {
      into.append(buf, static_cast<size_t>(n));
      return true;
    }
    if (n < 0 && errno == EINTR)
      continue;
    lastError_ = n == 0 ? 0 : errno;
    return false;
  }
}

std::string RawSocket::ReadAll() {
  std::string out = std::move(pending_);
  pending_.clear();
  while (ReadSome(out)) {
  }
  return out;
}

std::string RawSocket::ReadUntil(std::string_view marker) {
  std::string out = std::move(pending_);
  pending_.clear();
  size_t at;
  while ((at = out.find(marker)) == std::string::npos)
    if (!ReadSome(out))
      return out;
  pending_ = out.substr(at + marker.size());
  out.resize(at + marker.size());
  return out;
}

std::string RawSocket::ReadAnswer() {
  std::string head = ReadUntil("\r\n\r\n");
  size_t length = 0;
  const std::string key = "\r\ncontent-length:";
  std::string lower = head;
  for (char &c : lower)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  const size_t at = lower.find(key);
  if (at != std::string::npos)
    length = std::strtoul(head.c_str() + at + key.size(), nullptr, 10);
  std::string body = std::move(pending_);
  pending_.clear();
  while (body.size() < length && ReadSome(body)) {
  }
  if (body.size() > length) {
    pending_ = body.substr(length);
    body.resize(length);
  }
  return head + body;
}

uint16_t FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = 0;
  socklen_t len = sizeof sa;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) == 0)
    port = ntohs(sa.sin_port);
  ::close(fd);
  return port;
}

} // namespace kestrane::test
