#pragma once
// Helpers shared by the fuzz targets: a private scratch folder on tmpfs
// (files are written on every run, and the atomic writers sync them) and
// whole-file access without the code under test.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

namespace kestrane::fuzz {

// A folder of this process, made once and removed at exit.
inline const std::string &ScratchFolder() {
  static const std::string folder = [] {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string templ = base + "/kfuzz.XXXXXX";
    if (mkdtemp(templ.data()) == nullptr)
      std::abort();
    std::string made = templ + "/";
    static std::string forCleanup = made;
    std::atexit([] {
      std::string cmd = "rm -rf '" + forCleanup + "'";
      if (std::system(cmd.c_str()) != 0) {
        // Nothing to do at exit: the folder stays behind in tmpfs.
      }
    });
    return made;
  }();
  return folder;
}

inline void WriteRaw(const std::string &path, std::string_view bytes) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr)
    std::abort();
  if (!bytes.empty() &&
      std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
    std::abort();
  std::fclose(f);
}

inline std::string ReadRaw(const std::string &path) {
  std::string out;
  FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr)
    return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    out.append(buf, n);
  std::fclose(f);
  return out;
}

// Stops the run with a message that libFuzzer shows beside the input.
[[noreturn]] inline void Fail(const char *what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

} // namespace kestrane::fuzz
