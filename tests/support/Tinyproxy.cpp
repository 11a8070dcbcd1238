#include "tests/support/Tinyproxy.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/RawSocket.h"

extern char **environ;

namespace kestrane::test {

namespace {

// Bounds of the waits for start-up and shutdown: only a safety net against
// a hanging test, never a measured time.
constexpr auto kStartWait = std::chrono::seconds(10);
constexpr auto kStopWait = std::chrono::seconds(5);
constexpr auto kPoll = std::chrono::milliseconds(20);

std::string ReadText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

} // namespace

std::string Tinyproxy::Binary() {
  for (const char *path : {"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy"})
    if (::access(path, X_OK) == 0)
      return path;
  return {};
}

Tinyproxy::Tinyproxy(const std::string &user, const std::string &password) {
  const std::string binary = Binary();
  if (binary.empty()) {
    error_ = "tinyproxy not installed (setup script installs it)";
    return;
  }
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
      "/ktinyproxy.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    error_ = std::string("cannot make a folder for tinyproxy: ") +
             std::strerror(errno);
    return;
  }
  dir_ = pattern + "/";
  // A port found free may be taken by the time tinyproxy binds it.
  for (int attempt = 0; attempt < 5 && !Running(); ++attempt)
    StartOnce(binary, user, password);
}

bool Tinyproxy::StartOnce(const std::string &binary, const std::string &user,
                          const std::string &password) {
  port_ = FreeLoopbackPort();
  const std::string conf = dir_ + "tinyproxy.conf";
  {
    std::ofstream out(conf, std::ios::binary | std::ios::trunc);
    out << "Port " << port_ << "\n"
        << "Listen 127.0.0.1\n"
        << "Timeout 30\n"
        << "MaxClients 50\n"
        << "Allow 127.0.0.1\n"
        << "BasicAuth " << user << " " << password << "\n"
        << "LogLevel Info\n"
        << "DisableViaHeader Yes\n";
    if (!out) {
      error_ = "cannot write " + conf;
      return false;
    }
  }
  const std::string output = dir_ + "output.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::string arg0 = binary, argD = "-d", argC = "-c", argConf = conf;
  char *argv[] = {arg0.data(), argD.data(), argC.data(), argConf.data(),
                  nullptr};
  pid_t pid = -1;
  const int rc =
      posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    error_ = "cannot start " + binary + ": " + std::strerror(rc);
    return false;
  }

  const auto deadline = std::chrono::steady_clock::now() + kStartWait;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      error_ = "tinyproxy ended at start-up: " + ReadText(output);
      return false;
    }
    RawSocket probe("127.0.0.1", port_);
    if (probe.Connected()) {
      pid_ = pid;
      error_.clear();
      return true;
    }
    std::this_thread::sleep_for(kPoll);
  }
  pid_ = pid;
  StopProcess();
  error_ = "tinyproxy did not accept connections: " + ReadText(output);
  return false;
}

void Tinyproxy::StopProcess() {
  if (pid_ <= 0)
    return;
  ::kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kStopWait;
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(kPoll);
  }
  pid_ = -1;
}

std::string Tinyproxy::Output() const {
  return dir_.empty() ? std::string() : ReadText(dir_ + "output.txt");
}

Tinyproxy::~Tinyproxy() {
  StopProcess();
  if (!dir_.empty()) {
    std::remove((dir_ + "tinyproxy.conf").c_str());
    std::remove((dir_ + "output.txt").c_str());
    ::rmdir(dir_.c_str());
  }
}

} // namespace kestrane::test
