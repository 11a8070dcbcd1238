#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "sample/HttpServer.h"

namespace kestrane::test {

// An HttpServer that answers each path with the answer set for it (the query
// is ignored), and "404 Not Found" for any other path. Answers can be set
// while it runs.
class RouteServer {
public:
  explicit RouteServer(HttpServerOptions options = {});

  void Set(const std::string &path, HttpResponse response);
  // The URL of path on the server's address with that index.
  std::string Url(const std::string &pathAndQuery,
                  std::size_t addressIndex = 0) const;
  HttpServer &Server() { return *server_; }
  const HttpServer &Server() const { return *server_; }

private:
  std::mutex mutex_;
  std::map<std::string, HttpResponse> routes_;
  std::unique_ptr<HttpServer> server_;
};

} // namespace kestrane::test
