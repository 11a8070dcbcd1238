#pragma once
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "task/ProxySettings.h"

namespace kestrane {

namespace detail {
struct TransferState;
} // namespace detail

// Initialises libcurl once per process. Every program calls it in main()
// before it starts a thread; later calls do nothing. Throws KError when
// libcurl cannot be initialised.
void HttpGlobalInit();

// How one HTTP client is set up. A download worker copies the task's proxy
// and its pacing's three time-outs and sends no extra headers; the
// re-download run uses no proxy and sets Headers and the connect and no-data
// time-outs. Whatever is not set keeps the defaults below.
struct HttpOptions {
  // Read only when UseProxy is set. With UseProxy set and an empty
  // ProxyServer the client connects directly, but ProxyPort must still be a
  // port number (see TileHttp::ProxyPortError).
  ProxySettings Proxy;

  // Extra request headers, each "Name: value", sent with every request.
  std::vector<std::string> Headers;

  // Giving up on a connection attempt, and on an answer that sends nothing
  // for this long (time-out failures read as a socket error 10060). A
  // NoDataTimeout of 0 waits as long as the connection stays open.
  std::chrono::milliseconds ConnectTimeout{30000};
  std::chrono::milliseconds NoDataTimeout{60000};
  // A deadline for the whole request, connecting included, so that a server
  // that trickles a byte now and then cannot hold a client for ever; it
  // fails like the other time-outs. 0: no deadline.
  std::chrono::milliseconds RequestTimeout{600000};

  // Largest body accepted for one answer; a larger one fails with
  // "Response too large: more than N bytes".
  std::size_t MaxBody = std::size_t{16} * 1024 * 1024;
};

// The outcome of one request. Ok for a status 200 to 299; otherwise
// FailureText is the text that the failure classification reads:
// - an answer outside 2xx: its status line without the protocol version,
//   "404 Not Found", "302 Found" (code, one blank, the server's reason
//   phrase, which may be empty: "404 ");
// - a socket failure: "Socket Error # " + number + "\r\n" + description;
// - the server closed before a complete answer: "Connection Closed
//   Gracefully.";
// - a body over the maximum: "Response too large: more than N bytes";
// - anything else libcurl refuses (a malformed URL, a garbled answer):
//   libcurl's own description of the failure.
struct FetchResult {
  bool Ok = false;
  long Status = 0; // the answer's status code, 0 when none arrived
  std::string FailureText;
  // The answer's Retry-After header as sent (blanks around it dropped), for
  // an answer that asks the client to wait; nullopt without one.
  std::optional<std::string> RetryAfter;
};

// The HTTP/1.1 client of one download worker or one re-download run. It
// keeps one libcurl handle for all its requests, so a connection that the
// server leaves open is used again. Redirects are never followed. Not for
// use by two threads at once.
class TileHttp {
public:
  // Throws KError with ProxyPortError's text when UseProxy is set and the
  // port is not a port number, and KError when libcurl refuses the set-up.
  explicit TileHttp(const HttpOptions &options);
  ~TileHttp();
  TileHttp(const TileHttp &) = delete;
  TileHttp &operator=(const TileHttp &) = delete;

  // nullopt when the options can be used; otherwise the text to report, for
  // a ProxyPort that is not decimal digits in 1..65535 (blanks around the
  // digits are allowed): "Invalid proxy port: \"" + ProxyPort + "\"".
  // Without UseProxy the port is not looked at.
  static std::optional<std::string> ProxyPortError(const HttpOptions &options);

  // One GET of url. The body of every answer, failure answers included, is
  // appended to buffer; the buffer is never emptied. A body over the
  // maximum is dropped again, so the buffer keeps what it held before.
  FetchResult Fetch(const std::string &url, std::string &buffer);

private:
  void *curl_ = nullptr;    // CURL *
  void *headers_ = nullptr; // curl_slist *
  // What libcurl's callbacks fill during one request.
  std::unique_ptr<detail::TransferState> state_;
};

// The failure text of a socket error given as a POSIX errno: "Socket Error #
// " + the socket error number + "\r\n" + its description.
std::string SocketErrorText(int posixErrno);

} // namespace kestrane
