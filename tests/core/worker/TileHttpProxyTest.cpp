#include "worker/TileHttp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "platform/Errors.h"
#include "tests/support/RawSocket.h"
#include "tests/support/RouteServer.h"
#include "tests/support/Tinyproxy.h"

namespace kestrane {
namespace {

using test::RouteServer;

const char *const kTilePath = "/tiles/svi0123";
const char *const kTileQuery = "/tiles/svi0123?g=5340&dir=dir_n";
// Binary on purpose: the body must pass unchanged, NUL bytes included.
const std::string kTile("\xFF\xD8\xFF\xE0\0\x10JFIF\0tile\xFF\xD9", 18);

HttpOptions ProxyOptions(const RouteServer &proxy, std::string user,
                         std::string password) {
  HttpOptions o;
  o.Proxy.UseProxy = true;
  o.Proxy.ProxyServer = "127.0.0.1";
  o.Proxy.ProxyPort = std::to_string(proxy.Server().Port());
  o.Proxy.ProxyUsername = std::move(user);
  o.Proxy.ProxyPassword = std::move(password);
  o.ConnectTimeout = std::chrono::milliseconds(5000);
  o.NoDataTimeout = std::chrono::milliseconds(10000);
  return o;
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
  ScopedEnv(const char *name, const std::string &value) : name_(name) {
    if (const char *old = std::getenv(name))
      old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

private:
  const char *name_;
  std::optional<std::string> old_;
};

class TileHttpProxyTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { HttpGlobalInit(); }

  void SetUp() override {
    fakeProxy.Set(kTilePath, HttpResponse::Make(200, "OK", kTile));
    tiles.Set(kTilePath, HttpResponse::Make(200, "OK", kTile));
  }

  // A URL on 127.0.0.2 at a port where nothing listens: only a proxy can
  // answer it.
  std::string UnservedUrl() const {
    return "http://127.0.0.2:" + std::to_string(unservedPort) + kTileQuery;
  }

  // Plays the proxy: it records what the client sends to a proxy.
  RouteServer fakeProxy;
  // The tile service behind the proxy, on the second loopback address.
  RouteServer tiles{HttpServerOptions{{"127.0.0.2"}}};
  uint16_t unservedPort = test::FreeLoopbackPort();
};

// What goes to the proxy: the whole URL in the request line, and the Basic
// authorization only with a user name.
TEST_F(TileHttpProxyTest, ProxyGetsAbsoluteUrlAndBasicAuthorization) {
  struct Row {
    const char *user;
    const char *password;
    const char *authorization; // nullptr: no such header
  } rows[] = {
      {"user", "pass", "Basic dXNlcjpwYXNz"},
      // An empty password still authorizes as "user:".
      {"user", "", "Basic dXNlcjo="},
      // A colon in the user name is sent as it stands: "a:b:c".
      {"a:b", "c", "Basic YTpiOmM="},
      // No user name, no header, even with a password.
      {"", "pass", nullptr},
      {"", "", nullptr},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.user) + "/" + row.password);
    fakeProxy.Server().ClearRecorded();
    TileHttp http(ProxyOptions(fakeProxy, row.user, row.password));
    std::string buffer;
    const FetchResult r = http.Fetch(UnservedUrl(), buffer);
    ASSERT_TRUE(r.Ok) << r.FailureText;
    EXPECT_EQ(buffer, kTile);
    const auto requests = fakeProxy.Server().Requests();
    ASSERT_EQ(requests.size(), 1u);
    const HttpRequest &q = requests[0];
    EXPECT_EQ(q.Raw.substr(0, q.Raw.find("\r\n")),
              "GET " + UnservedUrl() + " HTTP/1.1");
    EXPECT_EQ(q.Header("Host"), "127.0.0.2:" + std::to_string(unservedPort));
    if (row.authorization != nullptr)
      EXPECT_EQ(q.Header("Proxy-Authorization"), row.authorization);
    else
      EXPECT_FALSE(q.HasHeader("Proxy-Authorization"));
  }
}

TEST_F(TileHttpProxyTest, ProxyConnectionIsKeptForLaterTiles) {
  TileHttp http(ProxyOptions(fakeProxy, "user", "pass"));
  for (int i = 0; i < 5; ++i) {
    std::string buffer;
    ASSERT_TRUE(http.Fetch(UnservedUrl(), buffer).Ok) << i;
  }
  EXPECT_EQ(fakeProxy.Server().ConnectionsAccepted(), 1u);
  // Every request authorizes, not only the first.
  for (const HttpRequest &q : fakeProxy.Server().Requests())
    EXPECT_EQ(q.Header("Proxy-Authorization"), "Basic dXNlcjpwYXNz");
}

// When no proxy may be used: filled-in fields without UseProxy, and proxy
// variables in the environment, must not divert the request.
TEST_F(TileHttpProxyTest, NoProxyUnlessUseProxyIsSet) {
  const std::string proxyUrl =
      "http://127.0.0.1:" + std::to_string(fakeProxy.Server().Port());
  ScopedEnv http("http_proxy", proxyUrl);
  ScopedEnv all("ALL_PROXY", proxyUrl);

  HttpOptions off = ProxyOptions(fakeProxy, "user", "pass");
  off.Proxy.UseProxy = false;
  off.Proxy.ProxyPort = "not a port"; // not even looked at
  HttpOptions noServer = ProxyOptions(fakeProxy, "user", "pass");
  noServer.Proxy.ProxyServer = "";

  struct Row {
    const char *name;
    HttpOptions options;
  } rows[] = {
      {"UseProxy off", off},
      // UseProxy with no server connects directly.
      {"empty server", noServer},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    tiles.Server().ClearRecorded();
    TileHttp client(row.options);
    std::string buffer;
    const FetchResult r = client.Fetch(tiles.Url(kTileQuery), buffer);
    ASSERT_TRUE(r.Ok) << r.FailureText;
    EXPECT_EQ(buffer, kTile);
    const auto requests = tiles.Server().Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Target, kTileQuery);
    EXPECT_FALSE(requests[0].HasHeader("Proxy-Authorization"));
  }
  EXPECT_EQ(fakeProxy.Server().ConnectionsAccepted(), 0u);
}

// A no_proxy variable must not take hosts away from the configured proxy.
TEST_F(TileHttpProxyTest, ConfiguredProxyIgnoresNoProxyVariable) {
  ScopedEnv lower("no_proxy", "*");
  ScopedEnv upper("NO_PROXY", "*");
  TileHttp http(ProxyOptions(fakeProxy, "user", "pass"));
  std::string buffer;
  ASSERT_TRUE(http.Fetch(UnservedUrl(), buffer).Ok);
  EXPECT_EQ(fakeProxy.Server().RequestsServed(), 1u);
}

TEST_F(TileHttpProxyTest, ProxyPortMustBeAPortNumber) {
  struct Row {
    const char *port;
    bool valid;
  } rows[] = {
      {"8080", true},
      {" 8080 ", true}, // blanks around the digits, as typed
      {"1", true},
      {"65535", true},
      {"", false}, // left empty in the options dialog
      {"abc", false},
      {"80a", false},
      {"8 0", false},
      {"-1", false},
      {"+80", false},
      {"0", false},
      {"65536", false},                // too large for a port
      {"99999999999999999999", false}, // too large for any integer
      {"0x50", false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string("\"") + row.port + "\"");
    HttpOptions o;
    o.Proxy.UseProxy = true;
    o.Proxy.ProxyServer = "127.0.0.1";
    o.Proxy.ProxyPort = row.port;
    const auto error = TileHttp::ProxyPortError(o);
    EXPECT_EQ(!error.has_value(), row.valid);
    if (row.valid) {
      EXPECT_NO_THROW(TileHttp{o});
      continue;
    }
    EXPECT_EQ(*error, std::string("Invalid proxy port: \"") + row.port + "\"");
    try {
      TileHttp http(o);
      ADD_FAILURE() << "no error for a bad port";
    } catch (const KError &e) {
      EXPECT_EQ(e.what(), *error);
    }
    // Without UseProxy the port does not matter.
    o.Proxy.UseProxy = false;
    EXPECT_FALSE(TileHttp::ProxyPortError(o).has_value());
    EXPECT_NO_THROW(TileHttp{o});
  }
}

// Through a real proxy that asks for Basic authorization.
TEST_F(TileHttpProxyTest, RealProxyChecksTheCredentials) {
  test::Tinyproxy proxy("user", "pass");
  ASSERT_TRUE(proxy.Running()) << proxy.Error();
  struct Row {
    const char *user;
    const char *password;
    bool ok;
    const char *textStart; // of the failure text
  } rows[] = {
      {"user", "pass", true, ""},
      // The proxy's own answer is the failure text.
      {"user", "wrong", false, "401"},
      {"", "", false, "407"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.user) + "/" + row.password);
    HttpOptions o;
    o.Proxy.UseProxy = true;
    o.Proxy.ProxyServer = "127.0.0.1";
    o.Proxy.ProxyPort = std::to_string(proxy.Port());
    o.Proxy.ProxyUsername = row.user;
    o.Proxy.ProxyPassword = row.password;
    o.ConnectTimeout = std::chrono::milliseconds(5000);
    o.NoDataTimeout = std::chrono::milliseconds(10000);
    TileHttp http(o);
    std::string buffer;
    const FetchResult r = http.Fetch(tiles.Url(kTileQuery), buffer);
    EXPECT_EQ(r.Ok, row.ok) << r.FailureText << "\n" << proxy.Output();
    if (row.ok) {
      EXPECT_EQ(buffer, kTile);
    } else {
      EXPECT_EQ(r.FailureText.substr(0, 3), row.textStart);
      EXPECT_FALSE(buffer.empty()); // the proxy's error page
    }
  }
  // Only the authorized request reached the tile service.
  EXPECT_EQ(tiles.Server().RequestsServed(), 1u);
}

} // namespace
} // namespace kestrane
