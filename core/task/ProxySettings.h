#pragma once
#include <string>

namespace kestrane {

// The proxy of the settings file's [Proxy] section, as the options dialog
// keeps it and every download worker's HTTP client uses it. Copied whole
// from the settings into a task's parameters and from there into the
// client's options. The other fields are read only when UseProxy is set.
struct ProxySettings {
  bool UseProxy = false;     // Proxy/UseProxy: true only when exactly 1
  std::string ProxyServer;   // host name or address; empty: no proxy
  std::string ProxyPort;     // decimal text, as the settings keep it
  std::string ProxyUsername; // empty: no proxy authorization
  std::string ProxyPassword;
  friend bool operator==(const ProxySettings &,
                         const ProxySettings &) = default;
};

} // namespace kestrane
