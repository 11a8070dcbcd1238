// The rationed sample service: at most R tile answers in any second, the
// rest refused with 429 and Retry-After, refusals no attempt of the tile.
#include <gtest/gtest.h>

#include <thread>

#include "sample/SampleService.h"
#include "sample/TileImage.h"

namespace kestrane {
namespace {

HttpRequest Get(const std::string &target) {
  HttpRequest r;
  r.Method = "GET";
  r.Target = target;
  r.Version = "HTTP/1.1";
  return r;
}

std::string Tile(int n) {
  return "/tiles/svi" + TileQuadkey(41994 + n, 170596, 18, 0) +
         "?g=5340&dir=dir_n";
}

TEST(RationedSampleService, AtMostRateTilesASecond) {
  SampleServiceOptions o;
  o.Rate = 3;
  o.RetryAfter = 7;
  // Every tile's first attempt fails: a refusal must not use it up.
  o.FailFirst = 1;
  o.Faults = {SampleFault::ServerError};
  SampleService service(o);
  // Within one second: three answers, then refusals; targets that are no
  // tile are not rationed.
  const std::pair<std::string, int> rows[] = {
      {Tile(0), 500}, {Tile(0), 200}, {Tile(1), 500},
      {Tile(1), 429}, {"/", 404},     {Tile(2), 429},
  };
  for (const auto &[target, status] : rows) {
    SCOPED_TRACE(target);
    const HttpResponse r = service.Handle(Get(target));
    EXPECT_EQ(r.Status, status);
    if (status == 429) {
      EXPECT_EQ(r.Reason, "Too Many Requests");
      ASSERT_EQ(r.Headers.size(), 2u);
      EXPECT_EQ(r.Headers[1].first, "Retry-After");
      EXPECT_EQ(r.Headers[1].second, "7");
    }
  }
  // A second later the ration is whole again, and tile 1's refused request
  // did not count as its attempt: its second attempt now succeeds.
  std::this_thread::sleep_for(std::chrono::milliseconds(1050));
  EXPECT_EQ(service.Handle(Get(Tile(1))).Status, 200);
  EXPECT_EQ(service.Handle(Get(Tile(2))).Status, 500);
  const SampleStats s = service.Stats();
  EXPECT_EQ(s.Refused, 2u);
  EXPECT_EQ(s.Tiles, 2u);
}

} // namespace
} // namespace kestrane
