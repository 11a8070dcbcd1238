#pragma once
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace kestrane::test {

// A real tinyproxy for the proxy tests: started in the foreground on a free
// loopback port, allowing 127.0.0.1 and asking for "BasicAuth user
// password", and stopped on destruction. When it cannot run, Running() is
// false and Error() says why, starting with "tinyproxy not installed" when
// the program is missing, so a test fails with that text:
//   Tinyproxy proxy("user", "pass");
//   ASSERT_TRUE(proxy.Running()) << proxy.Error();
class Tinyproxy {
public:
  Tinyproxy(const std::string &user, const std::string &password);
  ~Tinyproxy();
  Tinyproxy(const Tinyproxy &) = delete;
  Tinyproxy &operator=(const Tinyproxy &) = delete;

  bool Running() const { return pid_ > 0; }
  const std::string &Error() const { return error_; }
  uint16_t Port() const { return port_; }
  // What tinyproxy wrote so far (its log), for failure messages.
  std::string Output() const;

  // The installed program, "" when there is none.
  static std::string Binary();

private:
  bool StartOnce(const std::string &binary, const std::string &user,
                 const std::string &password);
  void StopProcess();

  std::string dir_;
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::string error_;
};

} // namespace kestrane::test
