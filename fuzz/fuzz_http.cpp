// Random bytes as the whole answer of a tile server: a loopback server
// thread sends the input to each request and closes the connection, and the
// worker's HTTP client fetches a tile from it. The client must end every
// request with success (a 2xx status) or a failure text, and never keep
// more body bytes than the server sent.
#include "fuzz/FuzzTemp.h"
#include "worker/TileHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace {

using kestrane::fuzz::Fail;

// The answer to send, swapped in by each run before its request.
std::mutex answerMutex;
std::string answer;

int listener = -1;
int port = 0;

// Reads the request head (up to the empty line), waiting at most a second,
// so a client that sends something else cannot hold the server.
void ReadRequest(int fd) {
  std::string head;
  char buf[2048];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0)
      return;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0)
      return;
    head.append(buf, static_cast<size_t>(n));
  }
}

void Serve() {
  for (;;) {
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0)
      continue;
    ReadRequest(fd);
    std::string bytes;
    {
      std::lock_guard<std::mutex> lock(answerMutex);
      bytes = answer;
    }
    size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n =
          send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0)
        break;
      sent += static_cast<size_t>(n);
    }
    shutdown(fd, SHUT_WR);
    close(fd);
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  kestrane::HttpGlobalInit();
  listener = socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      listen(listener, 16) != 0)
    Fail("cannot listen on loopback");
  socklen_t len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len);
  port = ntohs(addr.sin_port);
  std::thread(Serve).detach();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  {
    std::lock_guard<std::mutex> lock(answerMutex);
    answer.assign(reinterpret_cast<const char *>(data), size);
  }
  kestrane::HttpOptions options;
  options.ConnectTimeout = std::chrono::milliseconds(2000);
  options.NoDataTimeout = std::chrono::milliseconds(500);
  options.MaxBody = 4096;
  kestrane::TileHttp http(options);

  // The buffer keeps what earlier attempts left: a request only appends.
  std::string buffer = "\xFF\xD8";
  const std::string url = "http://127.0.0.1:" + std::to_string(port) +
                          "/tiles/svi0231?g=5340&dir=dir_n";
  kestrane::FetchResult r = http.Fetch(url, buffer);

  if (buffer.compare(0, 2, "\xFF\xD8") != 0)
    Fail("a request changed bytes already in the buffer");
  if (buffer.size() - 2 > size)
    Fail("the body holds more bytes than the server sent");
  if (buffer.size() - 2 > options.MaxBody)
    Fail("the body exceeds the maximum");
  if (r.Ok && (r.Status < 200 || r.Status > 299))
    Fail("success reported for a status outside 2xx");
  if (!r.Ok && r.FailureText.empty())
    Fail("a failure without a failure text");
  return 0;
}
