// What the benchmarks of the workers share: a tile server in a child process
// and a task of their block on it, in a temporary folder.
#pragma once
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "sample/HttpServer.h"
#include "task/DownloadTask.h"
#include "task/TaskFiles.h"
#include "tests/support/TaskBlock.h"

namespace kestrane::bench {

// A tile server in a child process: its picture is made in the child (a
// large one costs the parent nothing) and every request is answered with
// it. The server ends when Stop closes the pipe it waits on.
class ChildTileServer {
public:
  // Starts the child, which answers with makePicture()'s bytes; ends the
  // benchmark with exit status 2 when it cannot start.
  explicit ChildTileServer(const std::function<std::string()> &makePicture) {
    int portPipe[2], stopPipe[2];
    if (pipe(portPipe) != 0 || pipe(stopPipe) != 0)
      Die("pipe");
    child_ = fork();
    if (child_ < 0)
      Die("fork");
    if (child_ == 0) {
      close(portPipe[0]);
      close(stopPipe[1]);
      Serve(makePicture(), portPipe[1], stopPipe[0]);
    }
    close(portPipe[1]);
    close(stopPipe[0]);
    if (read(portPipe[0], &port_, sizeof port_) != sizeof port_ ||
        read(portPipe[0], &bytes_, sizeof bytes_) != sizeof bytes_) {
      std::fprintf(stderr, "the tile server did not start\n");
      std::exit(2);
    }
    close(portPipe[0]);
    stop_ = stopPipe[1];
  }
  ~ChildTileServer() { Stop(); }
  ChildTileServer(const ChildTileServer &) = delete;
  ChildTileServer &operator=(const ChildTileServer &) = delete;

  uint16_t Port() const { return port_; }
  // The size of the picture every answer carries.
  uint64_t PictureBytes() const { return bytes_; }

  void Stop() {
    if (stop_ < 0)
      return;
    close(stop_);
    stop_ = -1;
    waitpid(child_, nullptr, 0);
  }

private:
  [[noreturn]] static void Die(const char *what) {
    std::perror(what);
    std::exit(2);
  }

  [[noreturn]] static void Serve(const std::string &picture, int portOut,
                                 int stopIn) {
    HttpServerOptions options;
    options.RecordRequests = false;
    HttpServer server(
        [&picture](const HttpRequest &) {
          return HttpResponse::Make(200, "OK", picture, "image/jpeg");
        },
        options);
    const uint16_t port = server.Port();
    const uint64_t size = picture.size();
    if (write(portOut, &port, sizeof port) != sizeof port ||
        write(portOut, &size, sizeof size) != sizeof size)
      _exit(1);
    char c;
    while (read(stopIn, &c, 1) > 0) {
    }
    server.Stop();
    _exit(0);
  }

  pid_t child_ = -1;
  int stop_ = -1;
  uint16_t port_ = 0;
  uint64_t bytes_ = 0;
};

// A new temporary folder, ending in "/", removed with what it holds when
// the object goes.
class BenchFolder {
public:
  BenchFolder() {
    path_ = (std::filesystem::temp_directory_path() / "kestrane-bench-XXXXXX")
                .string();
    if (mkdtemp(path_.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(2);
    }
    path_ += "/";
  }
  ~BenchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  BenchFolder(const BenchFolder &) = delete;
  BenchFolder &operator=(const BenchFolder &) = delete;
  const std::string &Path() const { return path_; }

private:
  std::string path_;
};

// A North task of `columns` x `rows` tiles at zoom 18 in `folder`, with
// `workers` workers, its four hosts the server on 127.0.0.1:`port`; its
// tile folder made.
inline DownloadTask LoopbackTask(const std::string &folder, uint16_t port,
                                 int32_t columns, int32_t rows,
                                 int32_t workers) {
  TaskParameters p;
  const int32_t z = 18, x0 = 41986, y0 = 170585;
  p.Zoom = z;
  fixture::SetBlock(p, z, x0, x0 + columns - 1, y0, y0 + rows - 1);
  p.ThreadCount = workers;
  p.Path = folder;
  p.TaskFileName = "bench.ktsk";
  TaskEnvironment env;
  for (auto &host : env.Hosts)
    host = "127.0.0.1:" + std::to_string(port);
  DownloadTask task(p, env);
  CreateTileFolder(task);
  return task;
}

} // namespace kestrane::bench
