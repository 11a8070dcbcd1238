// kestrane-sample-server: a tile service on loopback for tests and demos.
// Serves generated tiles under the request form of the real service on
// 127.0.0.1 to 127.0.0.4 (one port, four shard hosts), with optional fault
// injection and an optional ration of tiles a second. Stops cleanly on
// SIGTERM or SIGINT.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
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
    "  --rate R          at most R tiles a second over all connections; the\n"
    "                    rest get 429 Too Many Requests\n"
    "  --retry-after S   the Retry-After of those answers (default 2)\n"
    "  --log             one line per request on stderr: outcome and target\n"
    "  --stats           totals on stderr at exit (with --rate also the\n"
    "                    requests refused)\n"
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

// Options without a value: true when `a` is one (--help and --version end
// the program here).
bool FlagOption(const std::string &a, Config &c) {
  if (a == "--help" || a == "-h") {
    std::fputs(kUsage, stdout);
    std::exit(0);
  }
  if (a == "--version") {
    std::printf("kestrane-sample-server %s\n", kestrane::kVersion);
    std::exit(0);
  }
  if (a == "--log")
    c.Log = true;
  else if (a == "--stats")
    c.Stats = true;
  else
    return false;
  return true;
}

// Which of the fault options the command line gave.
struct FaultOptionsGiven {
  bool Rate = false, Faults = false;
};

// One option with its value `v`; false (after saying why) when the option is
// unknown or the value does not fit it.
bool ValueOption(const std::string &a, const std::string &v, Config &c,
                 FaultOptionsGiven &given) {
  int n = 0;
  if (a == "--port") {
    if (!IntArg(a, v, 0, 65535, n))
      return false;
    c.Port = static_cast<uint16_t>(n);
  } else if (a == "--port-file") {
    c.PortFile = v;
  } else if (a == "--hosts") {
    return IntArg(a, v, 1, 4, c.Hosts);
  } else if (a == "--fault-rate") {
    const std::optional<double> r = kestrane::StrToFloatStrict(v);
    if (!r || !(*r >= 0 && *r <= 1))
      return Fail("--fault-rate wants a number from 0 to 1, not \"" + v + "\"");
    c.Service.FaultRate = *r;
    given.Rate = true;
  } else if (a == "--faults") {
    auto kinds = kestrane::ParseSampleFaults(v);
    if (!kinds)
      return Fail("unknown fault list \"" + v + "\"");
    c.Service.Faults = *kinds;
    given.Faults = true;
  } else if (a == "--seed") {
    if (!IntArg(a, v, 0, 2147483647, n))
      return false;
    c.Service.Seed = static_cast<uint64_t>(n);
  } else if (a == "--slow-ms") {
    return IntArg(a, v, 0, 600000, c.Service.SlowMs);
  } else if (a == "--fail-first") {
    return IntArg(a, v, 0, 1000000, c.Service.FailFirst);
  } else if (a == "--quality") {
    return IntArg(a, v, 1, 100, c.Service.Quality);
  } else if (a == "--rate") {
    return IntArg(a, v, 1, 1000000, c.Service.Rate);
  } else if (a == "--retry-after") {
    return IntArg(a, v, 0, 86400, c.Service.RetryAfter);
  } else {
    return Fail("unknown option " + a);
  }
  return true;
}

bool ParseArgs(int argc, char **argv, Config &c) {
  FaultOptionsGiven given;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (FlagOption(a, c))
      continue;
    if (i + 1 >= argc)
      return Fail("unknown option or missing value: " + a);
    if (!ValueOption(a, argv[++i], c, given))
      return false;
  }
  if (given.Faults && !given.Rate && c.Service.FailFirst == 0)
    return Fail("--faults needs --fault-rate or --fail-first");
  // A failing first request should leave the tile in the failed list for a
  // re-download to fetch: a 500 does (a 404 gives the tile up unrecorded).
  if (c.Service.FailFirst > 0 && !given.Faults)
    c.Service.Faults = {kestrane::SampleFault::ServerError};
  return true;
}

// The signals that end the service are taken by sigwait in main; every
// thread started after this inherits the blocked mask. A write to a client
// that has gone fails with EPIPE instead of ending the process. A failure is
// reported and the service runs on: a stop signal then ends it at once, and
// sends already ask for no SIGPIPE.
void SetUpSignals(sigset_t &stopSignals) {
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  if (const int e = pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr); e != 0)
    std::fprintf(stderr,
                 "kestrane-sample-server: cannot block SIGINT and SIGTERM: "
                 "%s\n",
                 std::strerror(e));
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  if (sigaction(SIGPIPE, &ignore, nullptr) != 0)
    std::fprintf(stderr, "kestrane-sample-server: cannot ignore SIGPIPE: %s\n",
                 std::strerror(errno));
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

void PrintStats(const kestrane::SampleStats &s, uint64_t connections,
                bool rationed) {
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
  if (rationed)
    std::fprintf(stderr, "refused %llu\n",
                 static_cast<unsigned long long>(s.Refused));
}

} // namespace

int main(int argc, char **argv) {
  Config config;
  if (!ParseArgs(argc, argv, config))
    return 2;

  sigset_t stopSignals;
  SetUpSignals(stopSignals);

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
  if (const int e = sigwait(&stopSignals, &signal); e != 0)
    std::fprintf(stderr,
                 "kestrane-sample-server: cannot wait for a signal: %s\n",
                 std::strerror(e));
  server->Stop();
  if (config.Stats)
    PrintStats(service.Stats(), server->ConnectionsAccepted(),
               config.Service.Rate > 0);
  return 0;
}
