#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sample/HttpServer.h"
#include "sample/TileImage.h"

namespace kestrane {

// The kinds of bad answer the sample tile service can give instead of a
// tile, to exercise a client's failure handling.
enum class SampleFault {
  Reset,       // "reset": the connection is reset, no answer
  NotFound,    // "404"
  ServerError, // "500"
  Forbidden,   // "403"
  NotImage,    // "notimage": 200 with an HTML page
  Crashed,     // "crashed": 200 with FF D8 and text that does not decode
  Truncated,   // "truncated": 200 with a real JPEG cut inside its image data
  Slow,        // "slow": the tile, after a pause
};
inline constexpr int kSampleFaultKinds = 8;

// "reset", "404", ... for a kind.
const char *SampleFaultName(SampleFault fault);
// A comma-separated list of names ("reset,404,500"); nullopt when a name is
// unknown or the list is empty.
std::optional<std::vector<SampleFault>>
ParseSampleFaults(std::string_view list);
// Every kind that a download worker survives (all but 403).
std::vector<SampleFault> DefaultSampleFaults();

struct SampleServiceOptions {
  // Share of requests (0..1) answered with a fault, drawn per (URL, attempt
  // number) from Seed, so that a run with the same seed is the same run.
  double FaultRate = 0;
  std::vector<SampleFault> Faults = DefaultSampleFaults();
  uint64_t Seed = 1;
  int SlowMs = 300; // the pause of "slow"
  // Each URL fails its first FailFirst requests (with a kind drawn from
  // Faults), then succeeds: a download gives the tile up and a re-download
  // gets it.
  int FailFirst = 0;
  int Quality = 80; // of the tile JPEGs
  // A rationed service: at most Rate tile answers in any second, over all
  // connections together; a tile request beyond that gets 429 Too Many
  // Requests with "Retry-After: " + RetryAfter (seconds). 0: no ration.
  int Rate = 0;
  int RetryAfter = 2;
};

// Totals since the service started.
struct SampleStats {
  uint64_t Requests = 0;
  uint64_t Tiles = 0;   // good tiles sent (slow ones included)
  uint64_t Unknown = 0; // 404 for a target that is no tile
  uint64_t Refused = 0; // 429 for a tile request over the ration
  uint64_t Faults[kSampleFaultKinds] = {};
};

// The request handler of the sample tile service: "/tiles/svi" + quadkey +
// "?g=5340&dir=dir_" + n|e|s|w (or the same as a whole URL, as a proxy
// would send it) gets the generated tile or an injected fault; anything
// else gets 404. Safe to call from many connection threads at once.
class SampleService {
public:
  explicit SampleService(SampleServiceOptions options = {});

  // `label` (when given) receives what was done, for the request log:
  // "200", "404", "reset", "200 slow", "200 notimage", ...
  HttpResponse Handle(const HttpRequest &request, std::string *label = nullptr);

  SampleStats Stats() const;

  // The fault the service gives to the attempt-th request (1 for the
  // first) of target, or nullopt for a good answer. Pure: the same
  // options give the same decisions.
  std::optional<SampleFault> FaultFor(std::string_view target,
                                      uint64_t attempt) const;

private:
  uint64_t NextAttempt(const std::string &target);
  // Whether the ration lets one more tile answer go now.
  bool Admit();
  HttpResponse Tile(const TileAddress &tile, int delayMs);
  // The answer of a request for `tile` drawn to fail with `fault`.
  HttpResponse Faulty(SampleFault fault, const TileAddress &tile,
                      std::string *label);

  SampleServiceOptions options_;
  std::mutex mu_;
  std::unordered_map<std::string, uint64_t> attempts_; // guarded by mu_
  // When the tile answers of the last second went; guarded by mu_.
  std::deque<std::chrono::steady_clock::time_point> admitted_;
  std::atomic<uint64_t> requests_{0}, tiles_{0}, unknown_{0}, refused_{0};
  std::atomic<uint64_t> faults_[kSampleFaultKinds] = {};
};

} // namespace kestrane
