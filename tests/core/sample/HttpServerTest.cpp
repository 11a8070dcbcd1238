#include "sample/HttpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Errors.h"
#include "tests/support/RawSocket.h"

namespace kestrane {
namespace {

using test::RawSocket;

const char *const kGet = "GET /tile HTTP/1.1\r\nHost: x\r\n\r\n";

HttpServer MakeServer(HttpResponse response, HttpServerOptions options = {}) {
  return HttpServer([response](const HttpRequest &) { return response; },
                    std::move(options));
}

TEST(HttpServerTest, KeepAliveServesManyRequestsOnOneConnection) {
  HttpServer server = MakeServer(HttpResponse::Make(200, "OK", "tile"));
  RawSocket client("127.0.0.1", server.Port());
  ASSERT_TRUE(client.Connected());
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(client.Send(kGet));
    EXPECT_EQ(client.ReadAnswer(),
              "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ntile");
  }
  EXPECT_EQ(server.ConnectionsAccepted(), 1u);
  EXPECT_EQ(server.RequestsServed(), 3u);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(requests[i].ConnectionId, 1u);
    EXPECT_EQ(requests[i].IndexOnConnection, i + 1);
    EXPECT_EQ(requests[i].Raw, kGet);
  }
}

TEST(HttpServerTest, PipelinedRequestsAreAnsweredInOrder) {
  HttpServer server([](const HttpRequest &r) {
    return HttpResponse::Make(200, "OK", r.Target);
  });
  RawSocket client("127.0.0.1", server.Port());
  ASSERT_TRUE(client.Send("GET /a HTTP/1.1\r\n\r\nGET /bb HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(client.ReadAnswer(),
            "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n/a");
  EXPECT_EQ(client.ReadAnswer(),
            "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n/bb");
}

// The exact bytes of the answer kinds a client has to cope with.
TEST(HttpServerTest, AnswerFramingIsExact) {
  auto chunked = HttpResponse::Make(200, "OK", "abcdefg");
  chunked.Chunked = true;
  chunked.ChunkSize = 3;
  chunked.SilentClose = true; // so that the read below ends
  auto http10 = HttpResponse::Make(200, "OK", "old");
  http10.Version = "HTTP/1.0";
  http10.ContentLength = false;
  auto closing = HttpResponse::Make(404, "Not Found", "page", "text/html");
  closing.Close = true;
  auto odd = HttpResponse::Make(0, "", "");
  odd.StatusLine = "HTTP/1.1 404";
  odd.Close = true;
  auto partial = HttpResponse::Make(200, "OK", "0123456789");
  partial.Fault = HttpFault::PartialBody;
  partial.PartialBytes = 3;
  auto endless = HttpResponse::Make(200, "OK", "ab");
  endless.Fault = HttpFault::EndlessBody;
  endless.EndlessLimit = 5;

  struct Row {
    const char *name;
    HttpResponse response;
    std::string bytes;
  } rows[] = {
      {"chunked", chunked,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
       "3\r\nabc\r\n3\r\ndef\r\n1\r\ng\r\n0\r\n\r\n"},
      // No length: the body ends with the connection.
      {"http10", http10, "HTTP/1.0 200 OK\r\n\r\nold"},
      {"close", closing,
       "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n"
       "Content-Length: 4\r\nConnection: close\r\n\r\npage"},
      {"status line", odd,
       "HTTP/1.1 404\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"},
      // Announces 10 bytes, sends 3, closes.
      {"partial", partial, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n012"},
      // Repeats the body up to the limit, then closes.
      {"endless", endless, "HTTP/1.1 200 OK\r\n\r\nababa"},
  };
  for (auto &row : rows) {
    SCOPED_TRACE(row.name);
    HttpServer server = MakeServer(row.response);
    RawSocket client("127.0.0.1", server.Port());
    ASSERT_TRUE(client.Send(kGet));
    EXPECT_EQ(client.ReadAll(), row.bytes);
    EXPECT_EQ(client.LastError(), 0); // an orderly close
  }
}

TEST(HttpServerTest, ResetAndCloseFaultsEndTheConnectionUnanswered) {
  struct Row {
    HttpFault fault;
    int error; // how the client's read ends
  } rows[] = {
      {HttpFault::Reset, ECONNRESET},
      {HttpFault::CloseWithoutAnswer, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(static_cast<int>(row.fault));
    auto r = HttpResponse::Make(200, "OK", "tile");
    r.Fault = row.fault;
    HttpServer server = MakeServer(r);
    RawSocket client("127.0.0.1", server.Port());
    ASSERT_TRUE(client.Send(kGet));
    EXPECT_EQ(client.ReadAll(), "");
    EXPECT_EQ(client.LastError(), row.error);
  }
}

// Bad requests never reach the handler; the server answers and closes.
TEST(HttpServerTest, GarbageRequestsGetAnErrorAndAClose) {
  struct Row {
    std::string request;
    std::string status; // the start of the answer
  } rows[] = {
      {"garbage\r\n\r\n", "HTTP/1.1 400 "},         // one word
      {"GET /\r\n\r\n", "HTTP/1.1 400 "},           // no version
      {"GET  / HTTP/1.1\r\n\r\n", "HTTP/1.1 400 "}, // double blank
      {"GET / HTTP/2.0\r\n\r\n", "HTTP/1.1 505 "},  // unknown version
      {"G(T / HTTP/1.1\r\n\r\n", "HTTP/1.1 400 "},  // bad method
      {"GET / HTTP/1.1\r\nNoColon\r\n\r\n", "HTTP/1.1 400 "},
      {"GET / HTTP/1.1\r\nBad Name: x\r\n\r\n", "HTTP/1.1 400 "},
      {"GET / HTTP/1.1\r\n folded\r\n\r\n", "HTTP/1.1 400 "},
      {"GET / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", "HTTP/1.1 400 "},
      {"GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", "HTTP/1.1 400 "},
      // Two lengths that disagree: request smuggling.
      {"GET / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
       "HTTP/1.1 400 "},
      {"GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
       "HTTP/1.1 501 "},
      // A body over the limit is refused before it is read.
      {"PUT / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n",
       "HTTP/1.1 413 "},
      // A Content-Length that would overflow a counter.
      {"PUT / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n",
       "HTTP/1.1 400 "},
      {std::string("\0\x01\xff\r\n\r\n", 7), "HTTP/1.1 400 "},
      {std::string("GET /\0 HTTP/1.1\r\n\r\n", 19), "HTTP/1.1 400 "},
      {"\r\n\r\n", "HTTP/1.1 400 "}, // an empty head
      // A head that never ends, and one that ends past the limit.
      {std::string(70000, 'a'), "HTTP/1.1 431 "},
      {"GET / HTTP/1.1\r\nX: " + std::string(70000, 'a') + "\r\n\r\n",
       "HTTP/1.1 431 "},
  };
  std::atomic<int> handled{0};
  HttpServer server([&](const HttpRequest &) {
    ++handled;
    return HttpResponse::Make(200, "OK", "");
  });
  for (const Row &row : rows) {
    SCOPED_TRACE(row.request.substr(0, 40));
    RawSocket client("127.0.0.1", server.Port());
    ASSERT_TRUE(client.Send(row.request));
    const std::string answer = client.ReadUntil("\r\n\r\n");
    EXPECT_EQ(answer.substr(0, row.status.size()), row.status);
    EXPECT_NE(answer.find("Connection: close"), std::string::npos);
  }
  EXPECT_EQ(handled.load(), 0);
  // It still serves well-formed requests afterwards.
  RawSocket client("127.0.0.1", server.Port());
  ASSERT_TRUE(client.Send(kGet));
  EXPECT_EQ(client.ReadAnswer().substr(0, 15), "HTTP/1.1 200 OK");
}

TEST(HttpServerTest, RequestPartsReachTheHandler) {
  HttpServer server([](const HttpRequest &r) {
    return HttpResponse::Make(200, "OK", r.Body);
  });
  const std::string request = "POST /up?x=1 HTTP/1.0\r\nhOsT: a\r\n"
                              "Connection: keep-alive\r\n"
                              "Content-Length: 5\r\n\r\nhello";
  RawSocket client("127.0.0.1", server.Port());
  ASSERT_TRUE(client.Send(request));
  EXPECT_EQ(client.ReadAnswer(),
            "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const HttpRequest &r = requests[0];
  EXPECT_EQ(r.Method, "POST");
  EXPECT_EQ(r.Target, "/up?x=1");
  EXPECT_EQ(r.Version, "HTTP/1.0");
  EXPECT_EQ(r.Header("HOST"), "a"); // names match in any case
  EXPECT_EQ(r.Header("Missing"), "");
  EXPECT_EQ(r.Body, "hello");
  EXPECT_EQ(r.Raw, request);
  EXPECT_EQ(r.LocalAddress, "127.0.0.1");
  EXPECT_EQ(r.LocalPort, server.Port());
}

TEST(HttpServerTest, HandlerExceptionGives500) {
  HttpServer server([](const HttpRequest &) -> HttpResponse {
    throw std::runtime_error("broken handler");
  });
  RawSocket client("127.0.0.1", server.Port());
  ASSERT_TRUE(client.Send(kGet));
  EXPECT_EQ(client.ReadAnswer().substr(0, 35),
            "HTTP/1.1 500 Internal Server Error\r");
}

TEST(HttpServerTest, AddressesShareOnePort) {
  HttpServerOptions o;
  o.Addresses = {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"};
  HttpServer server = MakeServer(HttpResponse::Make(200, "OK", ""), o);
  for (const std::string &address : o.Addresses) {
    RawSocket client(address, server.Port());
    ASSERT_TRUE(client.Connected()) << address;
    ASSERT_TRUE(client.Send(kGet));
    client.ReadAnswer();
  }
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i)
    EXPECT_EQ(requests[i].LocalAddress, o.Addresses[i]);
  EXPECT_EQ(server.BaseUrl(3),
            "http://127.0.0.4:" + std::to_string(server.Port()));
}

TEST(HttpServerTest, OnlyLoopbackAddressesAreAccepted) {
  for (const char *address :
       {"0.0.0.0", "10.0.0.1", "192.168.1.1", "localhost", "::1", ""}) {
    HttpServerOptions o;
    o.Addresses = {address};
    EXPECT_THROW(MakeServer(HttpResponse{}, o), KError) << address;
  }
}

TEST(HttpServerTest, ConnectionsOverTheLimitAreClosedAtOnce) {
  HttpServerOptions o;
  o.MaxConnections = 1;
  HttpServer server = MakeServer(HttpResponse::Make(200, "OK", "x"), o);
  RawSocket first("127.0.0.1", server.Port());
  ASSERT_TRUE(first.Send(kGet));
  first.ReadAnswer(); // the first connection is now being served
  RawSocket second("127.0.0.1", server.Port());
  second.Send(kGet);
  EXPECT_EQ(second.ReadAll(), "");
  EXPECT_EQ(server.ConnectionsAccepted(), 2u);
  EXPECT_EQ(server.RequestsServed(), 1u);
}

// A client that sends no whole request within the idle time-out loses its
// connection, whether it sent nothing, half a request, or went quiet after
// an answer.
TEST(HttpServerTest, IdleConnectionsAreClosedAfterTheTimeout) {
  HttpServerOptions o;
  o.IdleTimeout = std::chrono::milliseconds(300);
  HttpServer server = MakeServer(HttpResponse::Make(200, "OK", "x"), o);
  const struct {
    const char *what;
    std::string sent;
    bool answered;
  } rows[] = {
      {"nothing sent", "", false},
      {"half a request head", "GET /tile HTTP/1.1\r\nHo", false},
      {"quiet after an answer", kGet, true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    const auto start = std::chrono::steady_clock::now();
    RawSocket client("127.0.0.1", server.Port());
    ASSERT_TRUE(client.Send(row.sent));
    if (row.answered) {
      EXPECT_EQ(client.ReadAnswer(),
                "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx");
    }
    EXPECT_EQ(client.ReadAll(), "");
    EXPECT_EQ(client.LastError(), 0); // closed, not the read's safety net
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(290));
    EXPECT_LT(took, std::chrono::seconds(3));
  }
}

// More idle clients than the server takes at once: a new client still gets
// its answer, in place of the connection idle the longest.
TEST(HttpServerTest, ManyIdleConnectionsDoNotShutOutRequests) {
  HttpServer server = MakeServer(HttpResponse::Make(200, "OK", "x"));
  std::vector<std::unique_ptr<RawSocket>> idle;
  for (int i = 0; i < 300; ++i) {
    idle.push_back(std::make_unique<RawSocket>("127.0.0.1", server.Port()));
    ASSERT_TRUE(idle.back()->Connected());
  }
  while (server.ConnectionsAccepted() < 300)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    RawSocket client("127.0.0.1", server.Port());
    ASSERT_TRUE(client.Send(kGet));
    EXPECT_EQ(client.ReadAnswer(),
              "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx");
  }
  EXPECT_EQ(server.RequestsServed(), 3u);
  // The first idle client was let go for the first of them.
  EXPECT_EQ(idle.front()->ReadAll(), "");
  EXPECT_EQ(idle.front()->LastError(), 0);
}

// Stop must not wait for a pause, an endless answer or an idle client.
TEST(HttpServerTest, StopEndsStalledEndlessAndIdleConnections) {
  HttpServer server([](const HttpRequest &r) {
    auto response = HttpResponse::Make(200, "OK", "late");
    if (r.Target == "/stall") {
      response.Fault = HttpFault::StallAfterHeaders;
      response.StallMs = 600000;
    } else if (r.Target == "/delay") {
      response.DelayMs = 600000;
    } else if (r.Target == "/endless") {
      response.Fault = HttpFault::EndlessBody;
    } else if (r.Target == "/headers") {
      response.Fault = HttpFault::EndlessHeaders;
    }
    return response;
  });
  RawSocket idle("127.0.0.1", server.Port());
  RawSocket stall("127.0.0.1", server.Port());
  RawSocket delay("127.0.0.1", server.Port());
  RawSocket endless("127.0.0.1", server.Port());
  RawSocket headers("127.0.0.1", server.Port());
  ASSERT_TRUE(stall.Send("GET /stall HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(delay.Send("GET /delay HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(endless.Send("GET /endless HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(headers.Send("GET /headers HTTP/1.1\r\n\r\n"));
  stall.ReadUntil("\r\n\r\n");   // the headers came, the body waits
  endless.ReadUntil("latelate"); // the body flows; nobody reads on
  headers.ReadUntil("X-Filler");
  while (server.RequestsServed() < 4)
    std::this_thread::yield();
  server.Stop();
  server.Stop(); // a second Stop does nothing
  EXPECT_EQ(idle.ReadAll(), "");
  EXPECT_EQ(stall.ReadAll(), "");
  EXPECT_EQ(delay.ReadAll(), "");
}

} // namespace
} // namespace kestrane
