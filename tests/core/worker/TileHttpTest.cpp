#include "worker/TileHttp.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/Errors.h"
#include "tests/support/RawSocket.h"
#include "tests/support/RouteServer.h"

namespace kestrane {
namespace {

using test::RouteServer;

const char *const kTilePath = "/tiles/svi0123";
const char *const kTileQuery = "/tiles/svi0123?g=5340&dir=dir_n";

// A row name as a path segment.
std::string Slug(std::string name) {
  for (char &c : name)
    if (c == ' ' || c == ':')
      c = '-';
  return name;
}

HttpResponse WithStatusLine(std::string line, std::string body) {
  HttpResponse r = HttpResponse::Make(0, "", std::move(body));
  r.StatusLine = std::move(line);
  return r;
}

HttpResponse WithFault(HttpFault fault, std::string body = "0123456789") {
  HttpResponse r = HttpResponse::Make(200, "OK", std::move(body));
  r.Fault = fault;
  return r;
}

class TileHttpTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { HttpGlobalInit(); }

  // Short time-outs keep a failing test from hanging; none is measured.
  static HttpOptions Quick() {
    HttpOptions o;
    o.ConnectTimeout = std::chrono::milliseconds(5000);
    o.NoDataTimeout = std::chrono::milliseconds(5000);
    return o;
  }

  RouteServer server;
};

// Answers and the failure texts the classification reads from them.
TEST_F(TileHttpTest, StatusAnswersGiveOkOrTheStatusText) {
  auto chunked = HttpResponse::Make(200, "OK", "tile-in-chunks");
  chunked.Chunked = true;
  chunked.ChunkSize = 3;
  auto http10 = HttpResponse::Make(200, "OK", "old-server-tile");
  http10.Version = "HTTP/1.0";
  http10.ContentLength = false;
  auto redirect = HttpResponse::Make(302, "Found", "moved");
  redirect.Headers.emplace_back("Location", "/tiles/elsewhere");
  auto permanent = HttpResponse::Make(301, "Moved Permanently", "");
  permanent.Headers.emplace_back("Location", "/tiles/elsewhere");
  server.Set("/tiles/elsewhere", HttpResponse::Make(200, "OK", "WRONG"));

  struct Row {
    const char *name;
    HttpResponse response;
    bool ok;
    std::string text; // failure text
    std::string body; // what lands in the buffer
  } rows[] = {
      // Plain success with Content-Length.
      {"200", HttpResponse::Make(200, "OK", "tile-bytes"), true, "",
       "tile-bytes"},
      // Any 2xx is a success, an empty body too.
      {"204", HttpResponse::Make(204, "No Content", ""), true, "", ""},
      {"206", HttpResponse::Make(206, "Partial Content", "part"), true, "",
       "part"},
      // Chunks are joined, their framing is not in the buffer.
      {"chunked", chunked, true, "", "tile-in-chunks"},
      // A 1.0 answer without length ends with the connection.
      {"http10", http10, true, "", "old-server-tile"},
      // A failure answer's page is still added to the buffer.
      {"404", HttpResponse::Make(404, "Not Found", "<html>no tile</html>"),
       false, "404 Not Found", "<html>no tile</html>"},
      // Redirects are failures and never followed ("WRONG" is not fetched).
      {"302", redirect, false, "302 Found", "moved"},
      {"301", permanent, false, "301 Moved Permanently", ""},
      {"403", HttpResponse::Make(403, "Forbidden", "banned"), false,
       "403 Forbidden", "banned"},
      {"500", HttpResponse::Make(500, "Internal Server Error", "oops"), false,
       "500 Internal Server Error", "oops"},
      // The server's own reason phrase, not a standard one.
      {"own reason", HttpResponse::Make(404, "Tile Gone Fishing", ""), false,
       "404 Tile Gone Fishing", ""},
      // No reason phrase at all: code and blank.
      {"no reason", WithStatusLine("HTTP/1.1 404", "x"), false, "404 ", "x"},
      // Inner blanks of the reason phrase stay as sent.
      {"blanks", WithStatusLine("HTTP/1.1 503 Slow  Down", ""), false,
       "503 Slow  Down", ""},
      // The version is dropped whatever it is.
      {"1.0 failure", WithStatusLine("HTTP/1.0 400 Bad Request", ""), false,
       "400 Bad Request", ""},
  };
  for (auto &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = "/t/" + Slug(row.name);
    server.Set(path, row.response);
    TileHttp http(Quick());
    std::string buffer;
    const uint64_t before = server.Server().RequestsServed();
    const FetchResult r = http.Fetch(server.Url(path + "?g=5340"), buffer);
    EXPECT_EQ(r.Ok, row.ok);
    EXPECT_EQ(r.FailureText, row.text);
    EXPECT_EQ(buffer, row.body);
    EXPECT_EQ(server.Server().RequestsServed(), before + 1);
  }
}

// The server's reason phrase reaches log lines, records and terminals: no
// control byte gets through and the phrase is cut to 256 bytes.
TEST_F(TileHttpTest, ReasonPhraseLosesControlBytesAndIsCut) {
  const std::string longReason(1000, 'r');
  struct Row {
    const char *name;
    std::string statusLine;
    std::string text;
  } rows[] = {
      // A carriage return would start a forged line in the log file.
      {"carriage return", "HTTP/1.1 500 Oops\rT1:seq=1,ks_1_2_3.jpg OK",
       "500 Oops?T1:seq=1,ks_1_2_3.jpg OK"},
      // Terminal escapes (colour, title) and the bell.
      {"escape", "HTTP/1.1 404 \x1b[31mred\x1b]0;title\x07",
       "404 ?[31mred?]0;title?"},
      // Tab, vertical tab, form feed, backspace and DEL.
      {"other controls", "HTTP/1.1 503 a\tb\vc\fd\be\x7F", "503 a?b?c?d?e?"},
      // Bytes of 0x80 and above (UTF-8 text) stay as sent.
      {"utf-8", "HTTP/1.1 404 Nicht gefunden \xc3\xa4",
       "404 Nicht gefunden \xc3\xa4"},
      // A phrase of 1000 bytes is cut to 256.
      {"long", "HTTP/1.1 500 " + longReason,
       "500 " + longReason.substr(0, 256)},
  };
  for (auto &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = "/r/" + Slug(row.name);
    server.Set(path, WithStatusLine(row.statusLine, "page"));
    TileHttp http(Quick());
    std::string buffer;
    const FetchResult r = http.Fetch(server.Url(path), buffer);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.FailureText, row.text);
  }
}

// The default body maximum is 16 MiB, with or without a length announced.
TEST_F(TileHttpTest, DefaultBodyMaximumIs16MiB) {
  constexpr std::size_t kMax = std::size_t{16} * 1024 * 1024;
  const std::string tooLarge = "Response too large: more than 16777216 bytes";
  auto chunked = HttpResponse::Make(200, "OK", std::string(kMax + 1, 'c'));
  chunked.Chunked = true;
  chunked.ChunkSize = 1 << 20;
  struct Row {
    const char *name;
    HttpResponse response;
    std::string text; // empty: success
  } rows[] = {
      {"16 MiB", HttpResponse::Make(200, "OK", std::string(kMax, 'a')), ""},
      {"one byte more",
       HttpResponse::Make(200, "OK", std::string(kMax + 1, 'b')), tooLarge},
      {"one byte more in chunks", chunked, tooLarge},
  };
  for (auto &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = "/m/" + Slug(row.name);
    server.Set(path, row.response);
    TileHttp http(HttpOptions{});
    std::string buffer;
    const FetchResult r = http.Fetch(server.Url(path), buffer);
    EXPECT_EQ(r.Ok, row.text.empty());
    EXPECT_EQ(r.FailureText, row.text);
    EXPECT_LE(buffer.size(), kMax);
  }
}

// Broken connections and their failure texts.
TEST_F(TileHttpTest, ConnectionFaultsGiveSocketAndClosedTexts) {
  const std::string reset = "Socket Error # 10054\r\nConnection reset by peer.";
  const std::string closed = "Connection Closed Gracefully.";
  auto partialChunked = WithFault(HttpFault::PartialBody);
  partialChunked.Chunked = true;
  partialChunked.PartialBytes = 4;
  auto partial = WithFault(HttpFault::PartialBody);
  partial.PartialBytes = 4;
  auto partialReset = WithFault(HttpFault::PartialBodyThenReset);
  partialReset.PartialBytes = 4;

  struct Row {
    const char *name;
    HttpResponse response;
    std::string text;
    std::string body;
  } rows[] = {
      // A reset before any answer: 10054, which the classification retries.
      {"reset", WithFault(HttpFault::Reset), reset, ""},
      // A reset in the middle of the body; the part that came is kept.
      {"reset in body", partialReset, reset, "0123"},
      // Closed before answering.
      {"closed", WithFault(HttpFault::CloseWithoutAnswer), closed, ""},
      // Closed before the announced length arrived.
      {"short body", partial, closed, "0123"},
      // Closed before the last chunk.
      {"short chunks", partialChunked, closed, "0123"},
  };
  for (auto &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = "/f/" + Slug(row.name);
    server.Set(path, row.response);
    TileHttp http(Quick());
    std::string buffer;
    const FetchResult r = http.Fetch(server.Url(path), buffer);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.FailureText, row.text);
    EXPECT_EQ(buffer, row.body);
  }
}

TEST_F(TileHttpTest, RefusedPortGives10061) {
  TileHttp http(Quick());
  std::string buffer;
  const uint16_t port = test::FreeLoopbackPort();
  const FetchResult r = http.Fetch(
      "http://127.0.0.1:" + std::to_string(port) + kTileQuery, buffer);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.FailureText, "Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(r.Status, 0);
}

TEST_F(TileHttpTest, SilentServerTimesOutAs10060) {
  auto late = HttpResponse::Make(200, "OK", "late");
  late.DelayMs = 60000; // cut short when the server stops
  auto stalled = HttpResponse::Make(200, "OK", "late");
  stalled.Fault = HttpFault::StallAfterHeaders;
  stalled.StallMs = 60000;
  server.Set("/late", late);
  server.Set("/stalled", stalled);
  HttpOptions o = Quick();
  o.NoDataTimeout = std::chrono::milliseconds(200);
  for (const char *path : {"/late", "/stalled"}) {
    SCOPED_TRACE(path);
    TileHttp http(o);
    std::string buffer;
    const FetchResult r = http.Fetch(server.Url(path), buffer);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.FailureText, "Socket Error # 10060\r\nConnection timed out.");
  }
}

// A body that trickles in without end is ended by the request deadline.
TEST_F(TileHttpTest, TricklingBodyEndsAtTheRequestDeadline) {
  auto trickle = HttpResponse::Make(200, "OK", "x");
  trickle.Fault = HttpFault::EndlessBody;
  trickle.TrickleMs = 20; // never silent for the no-data time-out
  server.Set("/trickle", trickle);
  HttpOptions o = Quick();
  o.RequestTimeout = std::chrono::milliseconds(300);
  TileHttp http(o);
  std::string buffer;
  const FetchResult r = http.Fetch(server.Url("/trickle"), buffer);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.FailureText, "Socket Error # 10060\r\nConnection timed out.");
}

// The no-data time-out watches silence, not the length of the transfer.
TEST_F(TileHttpTest, SlowButSteadyAnswerDoesNotTimeOut) {
  auto slow = HttpResponse::Make(200, "OK", "steady");
  slow.Fault = HttpFault::StallAfterHeaders;
  slow.StallMs = 100; // headers arrived, so the client heard from it
  server.Set("/slow", slow);
  HttpOptions o = Quick();
  o.NoDataTimeout = std::chrono::milliseconds(3000);
  TileHttp http(o);
  std::string buffer;
  EXPECT_TRUE(http.Fetch(server.Url("/slow"), buffer).Ok);
  EXPECT_EQ(buffer, "steady");
}

TEST_F(TileHttpTest, BodyOverMaximumFailsAndLeavesBufferAsItWas) {
  const std::string big(5000, 'b');
  auto chunked = HttpResponse::Make(200, "OK", big);
  chunked.Chunked = true;
  chunked.ChunkSize = 500;
  auto unframed = HttpResponse::Make(200, "OK", big);
  unframed.ContentLength = false;
  auto endless = HttpResponse::Make(200, "OK", "");
  endless.Fault = HttpFault::EndlessBody;
  auto endless404 = HttpResponse::Make(404, "Not Found", "");
  endless404.Fault = HttpFault::EndlessBody;
  endless404.Chunked = true;

  struct Row {
    const char *name;
    HttpResponse response;
    bool ok;
  } rows[] = {
      // Announced too long: refused before the body is read.
      {"length", HttpResponse::Make(200, "OK", big), false},
      // Only found while reading.
      {"chunked", chunked, false},
      {"until close", unframed, false},
      // A body that never ends must not eat the memory.
      {"endless", endless, false},
      // Failure answers are bounded too.
      {"endless 404", endless404, false},
      // Exactly the maximum is still accepted.
      {"at limit", HttpResponse::Make(200, "OK", std::string(1000, 'a')), true},
  };
  HttpOptions o = Quick();
  o.MaxBody = 1000;
  for (auto &row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = "/big/" + Slug(row.name);
    server.Set(path, row.response);
    TileHttp http(o);
    std::string buffer = "kept";
    const FetchResult r = http.Fetch(server.Url(path), buffer);
    EXPECT_EQ(r.Ok, row.ok);
    if (row.ok) {
      EXPECT_EQ(buffer.size(), 4u + 1000u);
    } else {
      EXPECT_EQ(r.FailureText, "Response too large: more than 1000 bytes");
      EXPECT_EQ(buffer, "kept");
    }
  }
}

TEST_F(TileHttpTest, KeepAliveServesTenTilesOverOneConnection) {
  server.Set(kTilePath, HttpResponse::Make(200, "OK", "tile"));
  TileHttp http(Quick());
  for (int i = 0; i < 10; ++i) {
    std::string buffer;
    ASSERT_TRUE(http.Fetch(server.Url(kTileQuery), buffer).Ok) << i;
  }
  EXPECT_EQ(server.Server().RequestsServed(), 10u);
  EXPECT_EQ(server.Server().ConnectionsAccepted(), 1u);
}

// When the connection is kept or dropped after an answer: three requests
// with the same answer, and how many connections the server saw.
TEST_F(TileHttpTest, ConnectionIsReusedUnlessTheAnswerClosesIt) {
  auto http10 = HttpResponse::Make(200, "OK", "tile");
  http10.Version = "HTTP/1.0";
  auto closeHeader = HttpResponse::Make(200, "OK", "tile");
  closeHeader.Close = true;
  auto closeUpper = HttpResponse::Make(200, "OK", "tile");
  closeUpper.Headers.emplace_back("Connection", " CLOSE ");
  closeUpper.SilentClose = true;
  auto silent = HttpResponse::Make(200, "OK", "tile");
  silent.SilentClose = true;

  struct Row {
    const char *name;
    HttpResponse response;
    bool ok;
    uint64_t connections;
  } rows[] = {
      {"keep-alive", HttpResponse::Make(200, "OK", "tile"), true, 1},
      // A 1.0 answer closes after itself.
      {"http10", http10, true, 3},
      {"Connection: close", closeHeader, true, 3},
      // The header's value in any case and with blanks.
      {"Connection: CLOSE", closeUpper, true, 3},
      // A server that drops a kept connection without saying so: the next
      // request still succeeds on a new connection.
      {"silent close", silent, true, 3},
      // A failure answer keeps the connection.
      {"404", HttpResponse::Make(404, "Not Found", "none"), false, 1},
  };
  for (auto &row : rows) {
    SCOPED_TRACE(row.name);
    RouteServer own;
    own.Set(kTilePath, row.response);
    TileHttp http(Quick());
    for (int i = 0; i < 3; ++i) {
      std::string buffer;
      EXPECT_EQ(http.Fetch(own.Url(kTileQuery), buffer).Ok, row.ok) << i;
    }
    EXPECT_EQ(own.Server().ConnectionsAccepted(), row.connections);
  }
}

TEST_F(TileHttpTest, BufferIsAppendedToNeverCleared) {
  server.Set("/missing", HttpResponse::Make(404, "Not Found", "[page]"));
  server.Set(kTilePath, HttpResponse::Make(200, "OK", "[tile]"));
  TileHttp http(Quick());
  std::string buffer = "[before]";
  EXPECT_FALSE(http.Fetch(server.Url("/missing"), buffer).Ok);
  EXPECT_TRUE(http.Fetch(server.Url(kTileQuery), buffer).Ok);
  EXPECT_EQ(buffer, "[before][page][tile]");
}

TEST_F(TileHttpTest, WorkerRequestHasOnlyTheBasicHeaders) {
  server.Set(kTilePath, HttpResponse::Make(200, "OK", "tile"));
  TileHttp http(Quick());
  std::string buffer;
  ASSERT_TRUE(http.Fetch(server.Url(kTileQuery, 0), buffer).Ok);
  const auto requests = server.Server().Requests();
  ASSERT_EQ(requests.size(), 1u);
  const HttpRequest &r = requests[0];
  EXPECT_EQ(r.Raw.substr(0, r.Raw.find("\r\n")),
            std::string("GET ") + kTileQuery + " HTTP/1.1");
  EXPECT_EQ(r.Header("Host"),
            "127.0.0.1:" + std::to_string(server.Server().Port()));
  // The worker sets no referring page, user agent or connection header,
  // and nothing about a proxy goes out without one.
  for (const char *name : {"Referer", "User-Agent", "Connection",
                           "Proxy-Authorization", "Proxy-Connection"})
    EXPECT_FALSE(r.HasHeader(name)) << name;
}

TEST_F(TileHttpTest, ExtraHeadersGoWithEveryRequest) {
  server.Set(kTilePath, HttpResponse::Make(200, "OK", "tile"));
  HttpOptions o = Quick();
  o.Headers = {"Referer: http://www.bing.com/maps/",
               "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT "
               "5.1)",
               "Connection: Keep_Alive"};
  TileHttp http(o);
  for (int i = 0; i < 2; ++i) {
    std::string buffer;
    ASSERT_TRUE(http.Fetch(server.Url(kTileQuery), buffer).Ok);
  }
  const auto requests = server.Server().Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const HttpRequest &r : requests) {
    EXPECT_EQ(r.Header("Referer"), "http://www.bing.com/maps/");
    EXPECT_EQ(r.Header("User-Agent"),
              "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
    EXPECT_EQ(r.Header("Connection"), "Keep_Alive");
  }
  // "Keep_Alive" is no "close": the connection stays.
  EXPECT_EQ(server.Server().ConnectionsAccepted(), 1u);
}

// The four tile hosts are loopback addresses on one port.
TEST_F(TileHttpTest, HostHeaderNamesEachUrlsHost) {
  RouteServer shards(
      HttpServerOptions{{"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"}});
  shards.Set(kTilePath, HttpResponse::Make(200, "OK", "tile"));
  TileHttp http(Quick());
  for (std::size_t s = 0; s < 4; ++s) {
    std::string buffer;
    ASSERT_TRUE(http.Fetch(shards.Url(kTileQuery, s), buffer).Ok) << s;
  }
  const auto requests = shards.Server().Requests();
  ASSERT_EQ(requests.size(), 4u);
  for (std::size_t s = 0; s < 4; ++s) {
    const std::string host = "127.0.0." + std::to_string(s + 1);
    EXPECT_EQ(requests[s].LocalAddress, host);
    EXPECT_EQ(requests[s].Header("Host"),
              host + ":" + std::to_string(shards.Server().Port()));
  }
}

// URLs of a failed-tile list come from a file: anything but an HTTP URL
// fails without touching the buffer or a local file.
TEST_F(TileHttpTest, UnusableUrlsFailWithoutSocketText) {
  const char *urls[] = {
      "",                         // a record without a URL
      "file:///etc/hostname",     // a local file
      "ftp://127.0.0.1/tile.jpg", // another protocol
      "not a url at all",         // garbage
  };
  TileHttp http(Quick());
  for (const char *url : urls) {
    SCOPED_TRACE(url);
    std::string buffer = "kept";
    const FetchResult r = http.Fetch(url, buffer);
    EXPECT_FALSE(r.Ok);
    EXPECT_FALSE(r.FailureText.empty());
    EXPECT_EQ(r.FailureText.find("Socket Error"), std::string::npos);
    EXPECT_EQ(buffer, "kept");
  }
}

// A garbled answer is a failure of its own kind, and the errno of an earlier
// refused connection must not make it look like a socket error.
TEST_F(TileHttpTest, GarbledAnswerIsNotTakenForASocketError) {
  auto badChunks = HttpResponse::Make(200, "OK", "zz\r\nabc\r\n0\r\n\r\n");
  badChunks.Headers.emplace_back("Transfer-Encoding", "chunked");
  badChunks.ContentLength = false;
  server.Set("/badchunks", badChunks);
  server.Set("/garbage", WithStatusLine("garbage garbage", "tile"));
  TileHttp http(Quick());
  std::string buffer;
  const uint16_t port = test::FreeLoopbackPort();
  EXPECT_FALSE(
      http.Fetch("http://127.0.0.1:" + std::to_string(port) + "/", buffer).Ok);
  for (const char *path : {"/badchunks", "/garbage"}) {
    SCOPED_TRACE(path);
    const FetchResult r = http.Fetch(server.Url(path), buffer);
    EXPECT_FALSE(r.Ok);
    EXPECT_FALSE(r.FailureText.empty());
    EXPECT_EQ(r.FailureText.find("Socket Error"), std::string::npos)
        << r.FailureText;
    EXPECT_EQ(r.FailureText.find("Connection Closed Gracefully"),
              std::string::npos);
  }
}

TEST_F(TileHttpTest, EndlessHeadersFailWithoutHanging) {
  auto endless = HttpResponse::Make(200, "OK", "");
  endless.Fault = HttpFault::EndlessHeaders;
  server.Set("/endless", endless);
  TileHttp http(Quick());
  std::string buffer;
  const FetchResult r = http.Fetch(server.Url("/endless"), buffer);
  EXPECT_FALSE(r.Ok);
  EXPECT_FALSE(r.FailureText.empty());
  EXPECT_TRUE(buffer.empty());
}

// The errno table of socket failures.
TEST(SocketErrorTextTest, MapsErrnoToSocketErrorNumbers) {
  struct Row {
    int e;
    const char *text;
  } rows[] = {
      {ECONNRESET, "Socket Error # 10054\r\nConnection reset by peer."},
      {EADDRINUSE, "Socket Error # 10048\r\nAddress already in use."},
      {EADDRNOTAVAIL, "Socket Error # 10048\r\nAddress already in use."},
      {ECONNREFUSED, "Socket Error # 10061\r\nConnection refused."},
      {ETIMEDOUT, "Socket Error # 10060\r\nConnection timed out."},
      {EHOSTUNREACH, "Socket Error # 10065\r\nNo route to host."},
      {ENETUNREACH, "Socket Error # 10051\r\nNetwork is unreachable."},
      {ENETDOWN, "Socket Error # 10051\r\nNetwork is unreachable."},
      {ECONNABORTED,
       "Socket Error # 10053\r\nSoftware caused connection abort."},
      {EPIPE, "Socket Error # 10053\r\nSoftware caused connection abort."},
      // Any other errno: 10000 + errno and the system's text with a period.
      {EACCES, "Socket Error # 10013\r\nPermission denied."},
  };
  for (const Row &row : rows)
    EXPECT_EQ(SocketErrorText(row.e), row.text) << row.e;
}

} // namespace
} // namespace kestrane
