// Which tile hosts count as loopback: the only hosts on which the test seam
// that shortens the workers' pauses takes effect.
#include <gtest/gtest.h>

#include "worker/DownloadWorker.h"

namespace kestrane {
namespace {

TEST(LoopbackHost, AddressesOnly) {
  const std::pair<const char *, bool> rows[] = {
      {"127.0.0.1", true},
      {"127.0.0.4:8080", true},
      {"127.255.1.2:1", true},
      {"[::1]:8080", true},
      {"[::1]", true},
      {"::1", true},
      {"[0:0:0:0:0:0:0:1]:80", true},
      {"localhost", false}, // a name could be made to resolve anywhere
      {"localhost:8080", false},
      {"128.0.0.1:8080", false},
      {"10.0.0.1", false},
      {"ecn.t0.tiles.virtualearth.net", false},
      {"127.0.0.1.example.com", false},
      {"127.1", false}, // not written as an address in full
      {"[::2]:80", false},
      {"[::1", false},
      {"::ffff:127.0.0.1", false},
      {"", false},
  };
  for (const auto &[host, loopback] : rows)
    EXPECT_EQ(IsLoopbackHost(host), loopback) << host;
}

} // namespace
} // namespace kestrane
