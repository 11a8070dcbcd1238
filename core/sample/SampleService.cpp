#include "sample/SampleService.h"

#include <algorithm>
#include <utility>

namespace kestrane {

namespace {

constexpr std::string_view kTilePrefix = "/tiles/svi";
constexpr std::string_view kQuery = "?g=5340&dir=dir_";

const char *const kFaultNames[kSampleFaultKinds] = {
    "reset", "404", "500", "403", "notimage", "crashed", "truncated", "slow"};

// Stable across runs and machines, unlike std::hash.
uint64_t Fnv1a(std::string_view text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

uint64_t SplitMix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// The path and query of a request target; a whole URL (as a proxy gets it)
// loses its scheme and host.
std::string_view PathOf(std::string_view target) {
  constexpr std::string_view scheme = "http://";
  if (target.substr(0, scheme.size()) == scheme) {
    const size_t slash = target.find('/', scheme.size());
    return slash == std::string_view::npos ? std::string_view()
                                           : target.substr(slash);
  }
  return target;
}

std::optional<TileAddress> ParseTileTarget(std::string_view path) {
  if (path.substr(0, kTilePrefix.size()) != kTilePrefix)
    return std::nullopt;
  const size_t query = path.find('?');
  if (query == std::string_view::npos ||
      path.size() != query + kQuery.size() + 1 ||
      path.substr(query, kQuery.size()) != kQuery)
    return std::nullopt;
  const std::string_view key =
      path.substr(kTilePrefix.size(), query - kTilePrefix.size());
  return DecodeTileQuadkey(key, DirFromLetter(path.back()));
}

std::string Page(int status, const char *reason) {
  return "<html><head><title>" + std::to_string(status) + " " + reason +
         "</title></head><body><h1>" + reason + "</h1></body></html>";
}

// A real JPEG cut halfway through the data of its first scan: the decoder
// warns about it and fills in the rest.
std::string CutInScan(const std::string &jpeg) {
  size_t cut = jpeg.size() / 2;
  for (size_t i = 2; i + 3 < jpeg.size(); ++i) {
    if (static_cast<unsigned char>(jpeg[i]) != 0xFF ||
        static_cast<unsigned char>(jpeg[i + 1]) != 0xDA)
      continue;
    const size_t length = (static_cast<unsigned char>(jpeg[i + 2]) << 8) |
                          static_cast<unsigned char>(jpeg[i + 3]);
    const size_t data = i + 2 + length;
    if (data < jpeg.size())
      cut = data + (jpeg.size() - data) / 2;
    break;
  }
  return jpeg.substr(0, cut);
}

} // namespace

const char *SampleFaultName(SampleFault fault) {
  return kFaultNames[static_cast<int>(fault)];
}

std::optional<std::vector<SampleFault>>
ParseSampleFaults(std::string_view list) {
  std::vector<SampleFault> faults;
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view name = list.substr(0, comma);
    bool known = false;
    for (int k = 0; k < kSampleFaultKinds; ++k)
      if (name == kFaultNames[k]) {
        faults.push_back(static_cast<SampleFault>(k));
        known = true;
      }
    if (!known)
      return std::nullopt;
    if (comma == std::string_view::npos)
      break;
    list.remove_prefix(comma + 1);
    if (list.empty())
      return std::nullopt; // a trailing comma
  }
  if (faults.empty())
    return std::nullopt;
  return faults;
}

std::vector<SampleFault> DefaultSampleFaults() {
  return {SampleFault::Reset,       SampleFault::NotFound,
          SampleFault::ServerError, SampleFault::NotImage,
          SampleFault::Crashed,     SampleFault::Truncated,
          SampleFault::Slow};
}

SampleService::SampleService(SampleServiceOptions options)
    : options_(std::move(options)) {}

std::optional<SampleFault> SampleService::FaultFor(std::string_view target,
                                                   uint64_t attempt) const {
  if (options_.Faults.empty())
    return std::nullopt;
  const uint64_t draw = SplitMix(Fnv1a(target) ^ SplitMix(options_.Seed) ^
                                 SplitMix(attempt * 0xD1B54A32D192ED03ull));
  const uint64_t kind = SplitMix(draw) % options_.Faults.size();
  if (attempt <= static_cast<uint64_t>(std::max(options_.FailFirst, 0)))
    return options_.Faults[kind];
  const double u = static_cast<double>(draw >> 11) * 0x1.0p-53;
  if (u < options_.FaultRate)
    return options_.Faults[kind];
  return std::nullopt;
}

bool SampleService::Admit() {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(mu_);
  while (!admitted_.empty() &&
         admitted_.front() <= now - std::chrono::seconds(1))
    admitted_.pop_front();
  if (admitted_.size() >= static_cast<size_t>(options_.Rate))
    return false;
  admitted_.push_back(now);
  return true;
}

uint64_t SampleService::NextAttempt(const std::string &target) {
  std::lock_guard<std::mutex> lock(mu_);
  return ++attempts_[target];
}

HttpResponse SampleService::Tile(const TileAddress &tile, int delayMs) {
  HttpResponse r = HttpResponse::Make(
      200, "OK", TileJpeg(tile, options_.Quality), "image/jpeg");
  r.DelayMs = delayMs;
  return r;
}

namespace {

void Say(std::string *label, const char *text) {
  if (label)
    *label = text;
}

} // namespace

HttpResponse SampleService::Handle(const HttpRequest &request,
                                   std::string *label) {
  ++requests_;
  const std::string_view path = PathOf(request.Target);
  const std::optional<TileAddress> tile =
      request.Method == "GET" ? ParseTileTarget(path) : std::nullopt;
  if (!tile) {
    ++unknown_;
    Say(label, "404");
    return HttpResponse::Make(404, "Not Found", Page(404, "Not Found"),
                              "text/html");
  }
  if (options_.Rate > 0 && !Admit()) {
    // Over the ration: no attempt of the tile, only "later".
    ++refused_;
    Say(label, "429");
    HttpResponse r = HttpResponse::Make(
        429, "Too Many Requests", Page(429, "Too Many Requests"), "text/html");
    r.Headers.emplace_back("Retry-After", std::to_string(options_.RetryAfter));
    return r;
  }
  const std::optional<SampleFault> fault =
      FaultFor(path, NextAttempt(std::string(path)));
  if (!fault) {
    ++tiles_;
    Say(label, "200");
    return Tile(*tile, 0);
  }
  ++faults_[static_cast<int>(*fault)];
  return Faulty(*fault, *tile, label);
}

HttpResponse SampleService::Faulty(SampleFault fault, const TileAddress &tile,
                                   std::string *label) {
  switch (fault) {
  case SampleFault::Reset: {
    Say(label, "reset");
    HttpResponse r;
    r.Fault = HttpFault::Reset;
    return r;
  }
  case SampleFault::NotFound:
    Say(label, "404 fault");
    return HttpResponse::Make(404, "Not Found", Page(404, "Not Found"),
                              "text/html");
  case SampleFault::ServerError:
    Say(label, "500");
    return HttpResponse::Make(500, "Internal Server Error",
                              Page(500, "Internal Server Error"), "text/html");
  case SampleFault::Forbidden:
    Say(label, "403");
    return HttpResponse::Make(403, "Forbidden", Page(403, "Forbidden"),
                              "text/html");
  case SampleFault::NotImage:
    Say(label, "200 notimage");
    return HttpResponse::Make(200, "OK", Page(200, "Sample tile service"),
                              "text/html");
  case SampleFault::Crashed:
    Say(label, "200 crashed");
    return HttpResponse::Make(
        200, "OK", std::string("\xFF\xD8", 2) + "this is no picture, only text",
        "image/jpeg");
  case SampleFault::Truncated:
    Say(label, "200 truncated");
    return HttpResponse::Make(
        200, "OK", CutInScan(TileJpeg(tile, options_.Quality)), "image/jpeg");
  case SampleFault::Slow:
    ++tiles_;
    Say(label, "200 slow");
    return Tile(tile, options_.SlowMs);
  }
  return Tile(tile, 0);
}

SampleStats SampleService::Stats() const {
  SampleStats s;
  s.Requests = requests_.load();
  s.Tiles = tiles_.load();
  s.Unknown = unknown_.load();
  s.Refused = refused_.load();
  for (int k = 0; k < kSampleFaultKinds; ++k)
    s.Faults[k] = faults_[k].load();
  return s;
}

} // namespace kestrane
