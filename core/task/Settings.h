#pragma once
#include <string>

#include "task/DownloadTask.h"
#include "task/ProxySettings.h"

namespace kestrane {

// The settings file: program folder + "ini/config.ini" when that ini folder
// exists and is writable (the portable bundle); otherwise the user's,
// UserSettingsPath(): an installed program's folder belongs to root.
std::string SettingsPath(const std::string &programFolder);

// $XDG_CONFIG_HOME/kestrane/config.ini; an unset, empty or relative
// XDG_CONFIG_HOME stands for the home folder + "/.config".
std::string UserSettingsPath();

// Before the options dialog's first save: creates the folder of the user's
// settings file (with its parents) when `settingsPath` is UserSettingsPath();
// each folder it makes gets mode 0700, one already there keeps its own.
// A program folder's missing ini folder is not made: the write then fails
// and says so.
void PrepareSettingsFolder(const std::string &settingsPath);

// The default output folder when the settings name none: the user's home
// folder + "/Downloads".
std::string DefaultDownloadFolder();

// Everything the program reads from the settings file, with the defaults of
// missing keys (a key present with an empty value reads as empty).
struct Settings {
  std::string DefaultPath; // IniParas/DefaultPath
  std::string Version;     // IniParas/Version; missing: kVersion, the build's
  ProxySettings Proxy;     // the [Proxy] section
  TileHosts Hosts; // TileService/Host0..Host3; missing or empty: default
};
// A missing file gives the defaults; a file that is not a regular file of at
// most 1 MiB throws KError("Cannot open file " + path).
Settings ReadSettings(const std::string &settingsPath);

// The options dialog's OK: writes DefaultPath, UseProxy (1 or 0),
// ProxyServer, ProxyPort, ProxyUsername, ProxyPassword in that order. Throws
// KError("Unable to write to " + path) at the first refused key; keys
// written before it stay written.
void WriteOptions(const std::string &settingsPath, const Settings &s);

} // namespace kestrane
