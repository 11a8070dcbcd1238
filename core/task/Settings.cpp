#include "task/Settings.h"

#include <cmath>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Files.h"
#include "platform/Ini.h"
#include "platform/NumberFormat.h"
#include "platform/Version.h"

namespace kestrane {

namespace {

std::string HomeFolder() {
  std::string home;
  if (const char *env = std::getenv("HOME"); env != nullptr && *env != '\0') {
    home = env;
  } else if (const passwd *pw = getpwuid(getuid());
             pw != nullptr && pw->pw_dir != nullptr) {
    home = pw->pw_dir;
  }
  while (home.size() > 1 && home.back() == '/')
    home.pop_back();
  if (home == "/")
    home.clear(); // keeps "/Downloads", not "//Downloads"
  return home;
}

} // namespace

std::string SettingsPath(const std::string &programFolder) {
  const std::string ini = programFolder + "ini";
  if (DirectoryExists(ini) && ::access(ini.c_str(), W_OK) == 0)
    return ini + "/config.ini";
  return UserSettingsPath();
}

std::string UserSettingsPath() {
  std::string base;
  if (const char *env = std::getenv("XDG_CONFIG_HOME");
      env != nullptr && env[0] == '/')
    base = env;
  else
    base = HomeFolder() + "/.config";
  while (base.size() > 1 && base.back() == '/')
    base.pop_back();
  return base + "/kestrane/config.ini";
}

void PrepareSettingsFolder(const std::string &settingsPath) {
  if (settingsPath != UserSettingsPath())
    return;
  // Each missing level is made readable by the user alone, as the folders
  // of a user's configuration should be: the file holds the proxy password.
  // A failure shows in the write that follows.
  const std::string folder = ExtractFilePath(settingsPath);
  for (size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    const std::string level = folder.substr(0, slash);
    if (!DirectoryExists(level) && ::mkdir(level.c_str(), 0700) != 0)
      return;
  }
}

std::string DefaultDownloadFolder() {
  return HomeFolder() + "/Downloads";
}

Settings ReadSettings(const std::string &settingsPath) {
  // A missing file or ini folder is no error: every key reads its default.
  // Read and parsed once; a FIFO, folder or oversized file is refused.
  const IniSnapshot ini(settingsPath);
  Settings s;
  s.DefaultPath =
      ini.ReadString("IniParas", "DefaultPath", DefaultDownloadFolder());
  s.Version = ini.ReadString("IniParas", "Version", kVersion);
  s.MaxRate = MaxRateOf(ini.ReadString("IniParas", "MaxRate", ""));
  ProxySettings &proxy = s.Proxy;
  proxy.UseProxy = ini.ReadInteger("Proxy", "UseProxy", 0) == 1;
  proxy.ProxyServer = ini.ReadString("Proxy", "ProxyServer", "");
  proxy.ProxyPort = ini.ReadString("Proxy", "ProxyPort", "");
  proxy.ProxyUsername = ini.ReadString("Proxy", "ProxyUsername", "");
  proxy.ProxyPassword = ini.ReadString("Proxy", "ProxyPassword", "");
  const TileHosts defaults = DefaultTileHosts();
  for (size_t i = 0; i < s.Hosts.size(); ++i) {
    // An empty host would make every request of its shard fail.
    s.Hosts[i] = ini.ReadString("TileService", "Host" + std::to_string(i), "");
    if (s.Hosts[i].empty())
      s.Hosts[i] = defaults[i];
  }
  return s;
}

void WriteOptions(const std::string &settingsPath, const Settings &s) {
  // The file holds the proxy password: one that this write creates is
  // readable by its owner only.
  IniFile ini(settingsPath, kPrivateFileMode);
  ini.WriteString("IniParas", "DefaultPath", s.DefaultPath);
  const ProxySettings &proxy = s.Proxy;
  ini.WriteInteger("Proxy", "UseProxy", proxy.UseProxy ? 1 : 0);
  ini.WriteString("Proxy", "ProxyServer", proxy.ProxyServer);
  ini.WriteString("Proxy", "ProxyPort", proxy.ProxyPort);
  ini.WriteString("Proxy", "ProxyUsername", proxy.ProxyUsername);
  ini.WriteString("Proxy", "ProxyPassword", proxy.ProxyPassword);
  // A sentinel no number can be: tells a missing key from any value.
  const bool hasKey = ini.ReadString("IniParas", "MaxRate", "|") != "|";
  if (s.MaxRate > 0 || hasKey)
    ini.WriteString("IniParas", "MaxRate", MaxRateText(s.MaxRate));
  // The tile hosts only when they are not the defaults, or the file names
  // them already: a file of default settings keeps its eight lines.
  const TileHosts defaults = DefaultTileHosts();
  for (size_t i = 0; i < s.Hosts.size(); ++i) {
    const std::string key = "Host" + std::to_string(i);
    const bool isDefault = s.Hosts[i].empty() || s.Hosts[i] == defaults[i];
    if (isDefault && ini.ReadString("TileService", key, "").empty())
      continue;
    ini.WriteString("TileService", key, s.Hosts[i]);
  }
}

double MaxRateSetting(const std::string &settingsPath) noexcept {
  try {
    return ReadSettings(settingsPath).MaxRate;
  } catch (...) {
    return 0;
  }
}

std::string MaxRateText(double maxRate) {
  return FormatGeneral(maxRate > 0 && std::isfinite(maxRate) ? maxRate : 0,
                       '.');
}

double MaxRateOf(std::string_view text) {
  const std::optional<double> v = StrToFloatStrict(text);
  return v && std::isfinite(*v) && *v > 0 ? *v : 0;
}

} // namespace kestrane
