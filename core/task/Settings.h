#pragma once
#include <string>
#include <string_view>

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
  // IniParas/MaxRate: the most tiles a second all workers of a task (and a
  // re-download run) take together; missing, 0 or not a number ("." as the
  // point): no cap.
  double MaxRate = 0;
  ProxySettings Proxy; // the [Proxy] section
  TileHosts Hosts;     // TileService/Host0..Host3; missing or empty: default
};
// A missing file gives the defaults; a file that is not a regular file of at
// most 1 MiB throws KError("Cannot open file " + path).
Settings ReadSettings(const std::string &settingsPath);

// The options dialog's OK: writes DefaultPath, UseProxy (1 or 0),
// ProxyServer, ProxyPort, ProxyUsername, ProxyPassword, then MaxRate in that
// order (MaxRate only when there is a cap or the file has the key already,
// so a file without a cap stays as it was), then the tile hosts Host0 to
// Host3 of [TileService] that differ from the defaults or that the file
// holds already (an empty host stands for the default). Throws
// KError("Unable to write to " + path) at the first refused key; keys
// written before it stay written.
void WriteOptions(const std::string &settingsPath, const Settings &s);

// The settings' MaxRate, 0 when the file cannot be read: for a display that
// must not fail (the main window's live estimate).
double MaxRateSetting(const std::string &settingsPath) noexcept;

// MaxRate as the settings file holds it: the number in general form ("4",
// "0.5"), "0" for no cap.
std::string MaxRateText(double maxRate);
// The text of MaxRate read back; a text that is no number, a negative
// number or one that is not finite gives 0 (no cap).
double MaxRateOf(std::string_view text);

} // namespace kestrane
