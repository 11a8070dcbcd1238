#include "tests/support/RouteServer.h"

namespace kestrane::test {

RouteServer::RouteServer(HttpServerOptions options) {
  server_ = std::make_unique<HttpServer>(
      [this](const HttpRequest &request) {
        std::string path = request.Target;
        // A proxy's request names the whole URL: keep only its path.
        if (path.rfind("http://", 0) == 0) {
          const auto slash = path.find('/', 7);
          path = slash == std::string::npos ? "/" : path.substr(slash);
        }
        path = path.substr(0, path.find('?'));
        std::lock_guard lock(mutex_);
        auto it = routes_.find(path);
        if (it == routes_.end())
          return HttpResponse::Make(404, "Not Found", "no such tile",
                                    "text/plain");
        return it->second;
      },
      std::move(options));
}

void RouteServer::Set(const std::string &path, HttpResponse response) {
  std::lock_guard lock(mutex_);
  routes_[path] = std::move(response);
}

std::string RouteServer::Url(const std::string &pathAndQuery,
                             std::size_t addressIndex) const {
  return server_->BaseUrl(addressIndex) + pathAndQuery;
}

} // namespace kestrane::test
