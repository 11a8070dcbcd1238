#include "worker/TileHttp.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>

#include <curl/curl.h>

#include "platform/Errors.h"
#include "worker/FailureTexts.h"

namespace kestrane {

namespace detail {

// Filled by libcurl's callbacks during one request; reset by Fetch.
struct TransferState {
  std::string *buffer = nullptr;
  std::size_t bodyBytes = 0;
  std::size_t maxBody = 0;
  bool tooLarge = false;
  // No-data watch: bytes seen so far (headers and body), the count the
  // progress callback saw last, and when that count last moved.
  std::size_t received = 0;
  std::size_t receivedSeen = 0;
  std::chrono::steady_clock::time_point lastData;
  std::chrono::milliseconds noDataTimeout{0};
  bool stalled = false;
  // The last status line without its protocol version.
  std::string statusText;
  // The last answer's Retry-After value.
  std::optional<std::string> retryAfter;
  // libcurl's detailed message of a failed transfer.
  char errorBuffer[CURL_ERROR_SIZE] = {};
};

} // namespace detail

namespace {

using detail::TransferState;

// The server's words reach log lines, failed-tile records, the window and
// standard output: a control byte there could end a line early or drive a
// terminal, so each one becomes "?", and the text is cut to a sane length.
constexpr std::size_t kMaxReasonBytes = 256;

void AppendServerText(std::string &out, std::string_view text) {
  text = text.substr(0, kMaxReasonBytes);
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    out += (b < 0x20 || b == 0x7F) ? '?' : c;
  }
}

// "HTTP/1.1 404 Not Found\r\n" -> "404 Not Found"; "HTTP/1.1 404\r\n" ->
// "404 ", so the text always has the code, a blank and the reason phrase.
std::string StatusTextOf(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.remove_suffix(1);
  const auto afterVersion = line.find(' ');
  if (afterVersion == std::string_view::npos)
    return {};
  std::string_view rest = line.substr(afterVersion + 1);
  const auto afterCode = rest.find(' ');
  std::string text;
  AppendServerText(text, rest.substr(0, afterCode));
  text += ' ';
  if (afterCode != std::string_view::npos)
    AppendServerText(text, rest.substr(afterCode + 1));
  return text;
}

// The value of a header line "Name: value\r\n" when its name is `lowerName`
// in any letter case, blanks around the value dropped.
std::optional<std::string_view> HeaderValue(std::string_view line,
                                            std::string_view lowerName) {
  const auto colon = line.find(':');
  if (colon != lowerName.size())
    return std::nullopt;
  for (size_t i = 0; i < colon; ++i) {
    char c = line[i];
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerName[i])
      return std::nullopt;
  }
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r' ||
                            value.back() == ' ' || value.back() == '\t'))
    value.remove_suffix(1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
    value.remove_prefix(1);
  return value;
}

size_t OnBody(char *data, size_t size, size_t count, void *user) {
  auto &st = *static_cast<TransferState *>(user);
  const size_t len = size * count;
  st.received += len;
  if (len > st.maxBody - st.bodyBytes) {
    // Returning less than len makes libcurl abort the transfer at once.
    st.tooLarge = true;
    return 0;
  }
  st.buffer->append(data, len);
  st.bodyBytes += len;
  return len;
}

size_t OnHeader(char *data, size_t size, size_t count, void *user) {
  auto &st = *static_cast<TransferState *>(user);
  const size_t len = size * count;
  st.received += len;
  // Every status line (an interim 1xx one too) starts a new answer; the
  // last one is the answer that counts.
  const std::string_view line(data, len);
  if (len >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
    st.statusText = StatusTextOf(line);
    st.retryAfter.reset();
  } else if (auto value = HeaderValue(line, "retry-after")) {
    st.retryAfter = std::string();
    AppendServerText(*st.retryAfter, *value);
  }
  return len;
}

int OnProgress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto &st = *static_cast<TransferState *>(user);
  const auto now = std::chrono::steady_clock::now();
  if (st.received != st.receivedSeen) {
    st.receivedSeen = st.received;
    st.lastData = now;
    return 0;
  }
  if (st.noDataTimeout.count() > 0 && now - st.lastData >= st.noDataTimeout) {
    st.stalled = true;
    return 1; // aborts the transfer
  }
  return 0;
}

template <typename T>
void Set(CURL *curl, CURLoption option, T value, const char *name) {
  const CURLcode rc = curl_easy_setopt(curl, option, value);
  if (rc != CURLE_OK)
    throw KError(ErrorCause::SystemFailed,
                 std::string("HTTP client set-up failed (") + name +
                     "): " + curl_easy_strerror(rc));
}

// strerror_r comes in two shapes (GNU returns the text, POSIX fills buf).
[[maybe_unused]] const char *ErrnoText(int rc, const char *buf) {
  return rc == 0 ? buf : "Unknown error";
}
[[maybe_unused]] const char *ErrnoText(const char *text, const char *) {
  return text;
}

std::string Describe(int e) {
  char buf[256] = {};
  return std::string(ErrnoText(strerror_r(e, buf, sizeof buf), buf)) + ".";
}

std::string SocketText(int number, std::string_view description) {
  std::string text(kSocketError);
  text += " # ";
  text += std::to_string(number);
  text += "\r\n";
  text += description;
  return text;
}

std::string ClosedGracefullyText() {
  return std::string(kClosedGracefully) + ".";
}

std::string TooLargeText(std::size_t maxBody) {
  return std::string(kResponseTooLarge) + ": more than " +
         std::to_string(maxBody) + " bytes";
}

// libcurl words a failed send or recv system call this way.
bool IsSocketCallFailure(const char *message) {
  return std::strncmp(message, "Recv failure: ", 14) == 0 ||
         std::strncmp(message, "Send failure: ", 14) == 0;
}

// libcurl's result of a failed transfer as the failure text. Only the
// fixed descriptions of libcurl are used, never its detailed message: that
// one names ports and addresses, whose digits would mislead the failure
// classification ("port 10054").
std::string FailureTextOf(CURLcode rc, long osErrno, const TransferState &st) {
  switch (rc) {
  case CURLE_COULDNT_RESOLVE_HOST:
  case CURLE_COULDNT_RESOLVE_PROXY:
    return SocketText(11001, "Host not found.");
  case CURLE_OPERATION_TIMEDOUT:
    return SocketErrorText(ETIMEDOUT);
  case CURLE_ABORTED_BY_CALLBACK:
    if (st.stalled)
      return SocketErrorText(ETIMEDOUT);
    break;
  case CURLE_GOT_NOTHING:
  case CURLE_PARTIAL_FILE:
    return ClosedGracefullyText();
  case CURLE_COULDNT_CONNECT:
    return SocketErrorText(osErrno != 0 ? static_cast<int>(osErrno)
                                        : ECONNREFUSED);
  case CURLE_SEND_ERROR:
  case CURLE_RECV_ERROR:
    // Only a failed send or recv call is a socket failure; a garbled
    // answer (bad chunk sizes) gives the same codes. libcurl keeps the
    // errno of an earlier transfer, so it is read only for the former.
    if (osErrno != 0 && IsSocketCallFailure(st.errorBuffer))
      return SocketErrorText(static_cast<int>(osErrno));
    break;
  case CURLE_WRITE_ERROR:
  case CURLE_FILESIZE_EXCEEDED:
    if (st.tooLarge || rc == CURLE_FILESIZE_EXCEEDED)
      return TooLargeText(st.maxBody);
    break;
  default:
    break;
  }
  return curl_easy_strerror(rc);
}

// A port number in 1..65535 written in decimal, blanks around it allowed.
std::optional<long> ParsePort(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  if (text.empty() || text.size() > 5)
    return std::nullopt;
  long port = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port < 1 || port > 65535)
    return std::nullopt;
  return port;
}

// The extra request headers as libcurl's list; nullptr for none. Throws
// KError when memory runs out (the list made so far is freed).
curl_slist *HeaderList(const std::vector<std::string> &headers) {
  curl_slist *list = nullptr;
  for (const std::string &header : headers) {
    curl_slist *next = curl_slist_append(list, header.c_str());
    if (next == nullptr) {
      curl_slist_free_all(list);
      throw KError(ErrorCause::SystemFailed,
                   "HTTP client set-up failed: out of memory");
    }
    list = next;
  }
  return list;
}

// Everything of one request but its URL, headers and proxy: the protocol,
// the callbacks that fill `st`, the time-outs and the body limit.
void SetTransfer(CURL *curl, const HttpOptions &options, TransferState *st) {
  void *const user = st;
  // Worker threads: no signals for time-outs.
  Set(curl, CURLOPT_NOSIGNAL, 1L, "NOSIGNAL");
  Set(curl, CURLOPT_HTTP_VERSION, long{CURL_HTTP_VERSION_1_1}, "HTTP_VERSION");
  Set(curl, CURLOPT_FOLLOWLOCATION, 0L, "FOLLOWLOCATION");
  // URLs of a failed-tile list come from a file: never read local files or
  // speak other protocols for them.
  Set(curl, CURLOPT_PROTOCOLS_STR, "http,https", "PROTOCOLS_STR");
  Set(curl, CURLOPT_WRITEFUNCTION, &OnBody, "WRITEFUNCTION");
  Set(curl, CURLOPT_WRITEDATA, user, "WRITEDATA");
  Set(curl, CURLOPT_HEADERFUNCTION, &OnHeader, "HEADERFUNCTION");
  Set(curl, CURLOPT_HEADERDATA, user, "HEADERDATA");
  Set(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress, "XFERINFOFUNCTION");
  Set(curl, CURLOPT_XFERINFODATA, user, "XFERINFODATA");
  Set(curl, CURLOPT_NOPROGRESS, 0L, "NOPROGRESS");
  Set(curl, CURLOPT_ERRORBUFFER, st->errorBuffer, "ERRORBUFFER");
  Set(curl, CURLOPT_CONNECTTIMEOUT_MS,
      static_cast<long>(options.ConnectTimeout.count()), "CONNECTTIMEOUT");
  Set(curl, CURLOPT_TIMEOUT_MS,
      static_cast<long>(options.RequestTimeout.count()), "TIMEOUT");
  // Refuses an announced Content-Length over the maximum before any byte of
  // the body is read.
  Set(curl, CURLOPT_MAXFILESIZE_LARGE,
      static_cast<curl_off_t>(
          std::min<std::uintmax_t>(options.MaxBody, INT64_MAX)),
      "MAXFILESIZE");
}

// The proxy of the settings when UseProxy is set and a server is named (the
// port was checked before); otherwise none at all.
void SetProxy(CURL *curl, const ProxySettings &proxy) {
  if (!proxy.UseProxy || proxy.ProxyServer.empty()) {
    // The empty text also keeps http_proxy and friends from the
    // environment out.
    Set(curl, CURLOPT_PROXY, "", "PROXY");
    return;
  }
  Set(curl, CURLOPT_PROXY, proxy.ProxyServer.c_str(), "PROXY");
  Set(curl, CURLOPT_PROXYPORT, *ParsePort(proxy.ProxyPort), "PROXYPORT");
  Set(curl, CURLOPT_PROXYTYPE, long{CURLPROXY_HTTP}, "PROXYTYPE");
  // The configured proxy serves every host, whatever no_proxy says.
  Set(curl, CURLOPT_NOPROXY, "", "NOPROXY");
  if (proxy.ProxyUsername.empty())
    return;
  Set(curl, CURLOPT_PROXYUSERNAME, proxy.ProxyUsername.c_str(),
      "PROXYUSERNAME");
  Set(curl, CURLOPT_PROXYPASSWORD, proxy.ProxyPassword.c_str(),
      "PROXYPASSWORD");
  Set(curl, CURLOPT_PROXYAUTH, long{CURLAUTH_BASIC}, "PROXYAUTH");
}

} // namespace

std::string SocketErrorText(int e) {
  switch (e) {
  case ECONNRESET:
    return SocketText(10054, "Connection reset by peer.");
  case EADDRINUSE:
  case EADDRNOTAVAIL:
    return SocketText(10048, "Address already in use.");
  case ECONNREFUSED:
    return SocketText(10061, "Connection refused.");
  case ETIMEDOUT:
    return SocketText(10060, "Connection timed out.");
  case EHOSTUNREACH:
    return SocketText(10065, "No route to host.");
  case ENETUNREACH:
  case ENETDOWN:
    return SocketText(10051, "Network is unreachable.");
  case ECONNABORTED:
  case EPIPE:
    return SocketText(10053, "Software caused connection abort.");
  default:
    return SocketText(10000 + e, Describe(e));
  }
}

void HttpGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    const CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (rc != CURLE_OK)
      throw KError(ErrorCause::SystemFailed,
                   std::string("HTTP library start-up failed: ") +
                       curl_easy_strerror(rc));
  });
}

std::optional<std::string>
TileHttp::ProxyPortError(const HttpOptions &options) {
  const ProxySettings &proxy = options.Proxy;
  if (!proxy.UseProxy || ParsePort(proxy.ProxyPort))
    return std::nullopt;
  return "Invalid proxy port: \"" + proxy.ProxyPort + "\"";
}

TileHttp::TileHttp(const HttpOptions &options)
    : state_(std::make_unique<detail::TransferState>()) {
  if (auto error = ProxyPortError(options))
    throw KError(ErrorCause::InputRefused, *error);
  HttpGlobalInit();
  state_->maxBody = options.MaxBody;
  state_->noDataTimeout = options.NoDataTimeout;

  CURL *curl = curl_easy_init();
  if (curl == nullptr)
    throw KError(ErrorCause::SystemFailed,
                 "HTTP client set-up failed: no libcurl handle");
  curl_ = curl;
  try {
    headers_ = HeaderList(options.Headers);
    SetTransfer(curl, options, state_.get());
    if (headers_ != nullptr)
      Set(curl, CURLOPT_HTTPHEADER, static_cast<curl_slist *>(headers_),
          "HTTPHEADER");
    SetProxy(curl, options.Proxy);
  } catch (...) {
    curl_easy_cleanup(curl);
    curl_slist_free_all(static_cast<curl_slist *>(headers_));
    throw;
  }
}

TileHttp::~TileHttp() {
  curl_easy_cleanup(static_cast<CURL *>(curl_));
  curl_slist_free_all(static_cast<curl_slist *>(headers_));
}

FetchResult TileHttp::Fetch(const std::string &url, std::string &buffer) {
  CURL *curl = static_cast<CURL *>(curl_);
  TransferState &st = *state_;
  const std::size_t startSize = buffer.size();
  st.buffer = &buffer;
  st.bodyBytes = 0;
  st.tooLarge = false;
  st.received = 0;
  st.receivedSeen = 0;
  st.lastData = std::chrono::steady_clock::now();
  st.stalled = false;
  st.statusText.clear();
  st.retryAfter.reset();
  st.errorBuffer[0] = '\0';

  FetchResult result;
  CURLcode rc = curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  if (rc == CURLE_OK)
    rc = curl_easy_perform(curl);
  st.buffer = nullptr;
  if (rc != CURLE_OK) {
    long osErrno = 0;
    if (curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno) != CURLE_OK)
      osErrno = 0;
    result.FailureText = FailureTextOf(rc, osErrno, st);
    if (st.tooLarge)
      buffer.resize(startSize);
    return result;
  }

  rc = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.Status);
  if (rc != CURLE_OK) {
    result.FailureText = curl_easy_strerror(rc);
    return result;
  }
  if (result.Status >= 200 && result.Status <= 299) {
    result.Ok = true;
    return result;
  }
  result.FailureText = st.statusText.empty()
                           ? std::to_string(result.Status) + " "
                           : st.statusText;
  result.RetryAfter = std::move(st.retryAfter);
  return result;
}

} // namespace kestrane
