// kestrane-sample-server: a tile service on loopback for tests and demos.
// Serves generated tiles under the request form of the real service on
// 127.0.0.1 to 127.0.0.4 (one port, four shard hosts), with optional fault
// injection. Stops cleanly on SIGTERM or SIGINT.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "platform/Version.h"
#include "sample/HttpServer.h"
#include "sample/SampleService.h"

namespace {

const char kUsage[] =
    "usage: kestrane-sample-server [options]\n"
    "  --port N          port on 127.0.0.1..127.0.0.4 (0: a free one; the\n"
    "                    first line on stdout is then \"PORT <n>\")\n"
    "  --port-file PATH  also write the port to PATH\n"
    "  --hosts N         listen on 127.0.0.1 .. 127.0.0.N (1..4, default 4)\n"
    "  --fault-rate R    share of requests (0..1) answered with a fault\n"
    "  --faults LIST     kinds: reset,404,500,403,notimage,crashed,truncated,\n"
    "                    slow (default: all but 403)\n"
    "  --seed S          the faults' draw (same seed, same faults)\n"
    "  --slow-ms N       pause of a slow answer (default 300)\n"
    "  --fail-first N    every URL fails its first N requests (with a kind\n"
    "                    from --faults; 500 when none is given)\n"
    "  --quality Q       JPEG quality of the tiles (default 80)\n"
    "  --log             one line per request on stderr: outcome and target\n"
    "  --stats           totals on stderr at exit\n"
    "  --version         the program's version\n";

struct Config {
  uint16_t Port = 0;
  std::string PortFile;
  int Hosts = 4;
  bool Log = false;
  bool Stats = false;
  kestrane::SampleServiceOptions Service;
};

bool Fail(const std::string &text) {
  std::fprintf(stderr, "kestrane-sample-server: %s\n%s", text.c_str(), kUsage);
  return false;
}

bool IntArg(const std::string &option, const std::string &text, int lo, int hi,
            int &out) {
  const std::optional<int32_t> v = kestrane::StrToIntStrict(text);
  if (!v || *v < lo || *v > hi)
    return Fail(option + " wants a whole number from " + std::to_string(lo) +
                " to " + std::to_string(hi) + ", not \"" + text + "\"");
  out = *v;
  return true;
}

bool ParseArgs(int argc, char **argv, Config &c) {
  bool rateGiven = false, faultsGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (a == "--version") {
      std::printf("kestrane-sample-server %s\n", kestrane::kVersion);
      std::exit(0);
    }
    if (a == "--log") {
      c.Log = true;
      continue;
    }
    if (a == "--stats") {
      c.Stats = true;
      continue;
    }
    if (i + 1 >= argc)
      return Fail("unknown option or missing value: " + a);
    const std::string v = argv[++i];
    int n = 0;
    if (a == "--port") {
      if (!IntArg(a, v, 0, 65535, n))
        return false;
      c.Port = static_cast<uint16_t>(n);
    } else if (a == "--port-file") {
      c.PortFile = v;
    } else if (a == "--hosts") {
      if (!IntArg(a, v, 1, 4, c.Hosts))
        return false;
    } else if (a == "--fault-rate") {
      const std::optional<double> r = kestrane::StrToFloatStrict(v);
      if (!r || !(*r >= 0 && *r <= 1))
        return Fail("--fault-rate wants a number from 0 to 1, not \"" + v +
                    "\"");
      c.Service.FaultRate = *r;
      rateGiven = true;
    } else if (a == "--faults") {
      auto kinds = kestrane::ParseSampleFaults(v);
      if (!kinds)
        return Fail("unknown fault list \"" + v + "\"");
      c.Service.Faults = *kinds;
      faultsGiven = true;
    } else if (a == "--seed") {
      if (!IntArg(a, v, 0, 2147483647, n))
        return false;
      c.Service.Seed = static_cast<uint64_t>(n);
    } else if (a == "--slow-ms") {
      if (!IntArg(a, v, 0, 600000, c.Service.SlowMs))
        return false;
    } else if (a == "--fail-first") {
      if (!IntArg(a, v, 0, 1000000, c.Service.FailFirst))
        return false;
    } else if (a == "--quality") {
      if (!IntArg(a, v, 1, 100, c.Service.Quality))
        return false;
    } else {
      return Fail("unknown option " + a);
    }
  }
  if (faultsGiven && !rateGiven && c.Service.FailFirst == 0)
    return Fail("--faults needs --fault-rate or --fail-first");
  // A failing first request should leave the tile in the failed list for a
  // re-download to fetch: a 500 does (a 404 gives the tile up unrecorded).
  if (c.Service.FailFirst > 0 && !faultsGiven)
    c.Service.Faults = {kestrane::SampleFault::ServerError};
  return true;
}

// Written whole under another name, then renamed: a reader polling for the
// file never sees half of it.
bool WritePortFile(const std::string &path, uint16_t port) {
  std::string reason;
  if (kestrane::WriteFileAtomic(path, std::to_string(port) + "\n", &reason))
    return true;
  std::fprintf(stderr, "kestrane-sample-server: cannot write %s: %s\n",
               path.c_str(), reason.c_str());
  return false;
}

void PrintStats(const kestrane::SampleStats &s, uint64_t connections) {
  std::string faults;
  for (int k = 0; k < kestrane::kSampleFaultKinds; ++k) {
    faults += faults.empty() ? "" : ", ";
    faults += kestrane::SampleFaultName(static_cast<kestrane::SampleFault>(k));
    faults += " " + std::to_string(s.Faults[k]);
  }
  std::fprintf(stderr,
               "requests %llu, connections %llu, tiles %llu, unknown "
               "targets %llu\nfaults: %s\n",
               static_cast<unsigned long long>(s.Requests),
               static_cast<unsigned long long>(connections),
               static_cast<unsigned long long>(s.Tiles),
               static_cast<unsigned long long>(s.Unknown), faults.c_str());
}

} // namespace

int main(int argc, char **argv) {
  Config config;
  if (!ParseArgs(argc, argv, config))
    return 2;

  // The signals that end the service are taken by sigwait below; every
  // thread started from here on inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  kestrane::SampleService service(config.Service);
  kestrane::HttpServerOptions options;
  options.Addresses.clear();
  for (int h = 1; h <= config.Hosts; ++h)
    options.Addresses.push_back("127.0.0." + std::to_string(h));
  options.Port = config.Port;
  options.RecordRequests = false;

  const bool log = config.Log;
  std::unique_ptr<kestrane::HttpServer> server;
  try {
    server = std::make_unique<kestrane::HttpServer>(
        [&service, log](const kestrane::HttpRequest &request) {
          if (!log)
            return service.Handle(request);
          std::string label;
          kestrane::HttpResponse r = service.Handle(request, &label);
          const std::string line = label + " " + request.Target + "\n";
          std::fwrite(line.data(), 1, line.size(), stderr);
          return r;
        },
        options);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "kestrane-sample-server: %s\n", e.what());
    return 1;
  }

  std::printf("PORT %u\n", static_cast<unsigned>(server->Port()));
  std::fflush(stdout);
  if (!config.PortFile.empty() &&
      !WritePortFile(config.PortFile, server->Port())) {
    server->Stop();
    return 1;
  }

  int signal = 0;
  sigwait(&stopSignals, &signal);
  server->Stop();
  if (config.Stats)
    PrintStats(service.Stats(), server->ConnectionsAccepted());
  return 0;
}
