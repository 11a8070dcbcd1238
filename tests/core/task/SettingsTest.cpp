#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Errors.h"
#include "task/Settings.h"
#include "task/TaskInput.h"
#include "tests/core/task/TaskTestSupport.h"

namespace kestrane {
namespace {

using tasktest::CrLf;
using tasktest::GetBytes;
using tasktest::PutBytes;
using tasktest::TempDir;

// Sets HOME for one test and puts the old value back.
class ScopedHome {
public:
  explicit ScopedHome(const char *value) {
    if (const char *old = std::getenv("HOME"))
      old_ = old;
    if (value)
      ::setenv("HOME", value, 1);
    else
      ::unsetenv("HOME");
  }
  ~ScopedHome() {
    if (old_)
      ::setenv("HOME", old_->c_str(), 1);
    else
      ::unsetenv("HOME");
  }

private:
  std::optional<std::string> old_;
};

// Sets XDG_CONFIG_HOME (null: unsets it) for one test.
class ScopedConfigHome {
public:
  explicit ScopedConfigHome(const char *value) {
    if (const char *old = std::getenv("XDG_CONFIG_HOME"))
      old_ = old;
    if (value)
      ::setenv("XDG_CONFIG_HOME", value, 1);
    else
      ::unsetenv("XDG_CONFIG_HOME");
  }
  ~ScopedConfigHome() {
    if (old_)
      ::setenv("XDG_CONFIG_HOME", old_->c_str(), 1);
    else
      ::unsetenv("XDG_CONFIG_HOME");
  }

private:
  std::optional<std::string> old_;
};

TEST(SettingsPathTest, PathsBesideTheProgram) {
  TempDir bundle;
  ASSERT_TRUE(std::filesystem::create_directory(bundle.Path() + "ini"));
  EXPECT_EQ(SettingsPath(bundle.Path()), bundle.Path() + "ini/config.ini");
  const ScopedHome home("/home/anna");
  EXPECT_EQ(DefaultDownloadFolder(), "/home/anna/Downloads");
  const ScopedHome slash("/home/anna/"); // no double slash
  EXPECT_EQ(DefaultDownloadFolder(), "/home/anna/Downloads");
}

// The program folder's ini/ when it is there and writable, else the user's
// configuration folder, which only the options' save creates.
TEST(SettingsPathTest, ProgramFolderOrTheUsersConfigFolder) {
  TempDir dir;
  const std::string bundle = dir.Path() + "bundle/";
  const std::string installed = dir.Path() + "installed/";
  std::filesystem::create_directories(bundle + "ini");
  std::filesystem::create_directories(installed + "ini");
  std::filesystem::permissions(installed + "ini",
                               std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  const bool root = ::geteuid() == 0; // root may write anywhere
  const std::string home = dir.Path() + "home";
  const ScopedHome setHome(home.c_str());
  struct Row {
    const char *what;
    std::string programFolder;
    const char *configHome; // XDG_CONFIG_HOME; null: unset
    std::string expected;
  } rows[] = {
      {"the bundle's writable ini folder", bundle, "/xdg",
       bundle + "ini/config.ini"},
      {"no ini folder: the user's", dir.Path() + "none/", nullptr,
       home + "/.config/kestrane/config.ini"},
      {"read-only ini folder: the user's", installed, nullptr,
       root ? installed + "ini/config.ini"
            : home + "/.config/kestrane/config.ini"},
      {"XDG_CONFIG_HOME set", dir.Path() + "none/", "/xdg/",
       "/xdg/kestrane/config.ini"},
      {"XDG_CONFIG_HOME empty", dir.Path() + "none/", "",
       home + "/.config/kestrane/config.ini"},
      {"XDG_CONFIG_HOME relative: ignored", dir.Path() + "none/", "cfg",
       home + "/.config/kestrane/config.ini"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    const ScopedConfigHome config(row.configHome);
    EXPECT_EQ(SettingsPath(row.programFolder), row.expected);
  }

  // The user's folder appears with the first save, the bundle's never.
  const ScopedConfigHome config(nullptr);
  const std::string user = SettingsPath(dir.Path() + "none/");
  EXPECT_FALSE(tasktest::Exists(home));
  Settings s;
  s.DefaultPath = "/data/maps";
  PrepareSettingsFolder(user);
  WriteOptions(user, s);
  EXPECT_EQ(ReadSettings(user).DefaultPath, "/data/maps");
  const std::string missingIni = dir.Path() + "none/ini/config.ini";
  PrepareSettingsFolder(missingIni);
  EXPECT_FALSE(tasktest::Exists(dir.Path() + "none"));
}

TEST(ReadSettingsTest, MissingFileGivesEveryDefault) {
  TempDir dir;
  const ScopedHome home("/home/anna");
  const Settings s = ReadSettings(dir.Path() + "ini/config.ini");
  EXPECT_EQ(s.DefaultPath, "/home/anna/Downloads");
  EXPECT_EQ(s.Version, "6.2"); // the project's version
  EXPECT_FALSE(s.Proxy.UseProxy);
  EXPECT_EQ(s.Proxy.ProxyServer, "");
  EXPECT_EQ(s.Proxy.ProxyPort, "");
  EXPECT_EQ(s.Proxy.ProxyUsername, "");
  EXPECT_EQ(s.Proxy.ProxyPassword, "");
  EXPECT_EQ(s.Hosts, DefaultTileHosts());
  EXPECT_EQ(s.Hosts[0], "ecn.t0.tiles.virtualearth.net");
  EXPECT_EQ(s.Hosts[3], "ecn.t3.tiles.virtualearth.net");
}

TEST(ReadSettingsTest, Values) {
  struct Row {
    const char *what;
    const char *file;
    void (*check)(const Settings &);
  };
  const Row rows[] = {
      {"present but empty path is empty, not the default",
       "[IniParas]\r\nDefaultPath=\r\n",
       [](const Settings &s) { EXPECT_EQ(s.DefaultPath, ""); }},
      {"every proxy key",
       "[Proxy]\r\nUseProxy=1\r\nProxyServer=127.0.0.1\r\nProxyPort=8888\r\n"
       "ProxyUsername=kuser\r\nProxyPassword=kpass\r\n",
       [](const Settings &s) {
         EXPECT_TRUE(s.Proxy.UseProxy);
         EXPECT_EQ(s.Proxy.ProxyServer, "127.0.0.1");
         EXPECT_EQ(s.Proxy.ProxyPort, "8888");
         EXPECT_EQ(s.Proxy.ProxyUsername, "kuser");
         EXPECT_EQ(s.Proxy.ProxyPassword, "kpass");
       }},
      // only exactly 1 turns the proxy on
      {"UseProxy 2", "[Proxy]\r\nUseProxy=2\r\n",
       [](const Settings &s) { EXPECT_FALSE(s.Proxy.UseProxy); }},
      {"UseProxy yes", "[Proxy]\r\nUseProxy=yes\r\n",
       [](const Settings &s) { EXPECT_FALSE(s.Proxy.UseProxy); }},
      {"UseProxy 0x1", "[proxy]\r\nuseproxy=0x1\r\n",
       [](const Settings &s) { EXPECT_TRUE(s.Proxy.UseProxy); }},
      {"version", "[IniParas]\r\nVersion=7.0 beta\r\n",
       [](const Settings &s) { EXPECT_EQ(s.Version, "7.0 beta"); }},
      // an empty host keeps its default, a set one replaces it
      {"hosts",
       "[TileService]\r\nHost0=127.0.0.1:8080\r\nHost1=\r\n"
       "Host3=127.0.0.4:8080\r\n",
       [](const Settings &s) {
         EXPECT_EQ(s.Hosts[0], "127.0.0.1:8080");
         EXPECT_EQ(s.Hosts[1], "ecn.t1.tiles.virtualearth.net");
         EXPECT_EQ(s.Hosts[2], "ecn.t2.tiles.virtualearth.net");
         EXPECT_EQ(s.Hosts[3], "127.0.0.4:8080");
       }},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    TempDir dir;
    PutBytes(dir.Path() + "config.ini", r.file);
    r.check(ReadSettings(dir.Path() + "config.ini"));
  }
}

TEST(WriteOptionsTest, NewFileInKeyOrder) {
  TempDir dir;
  const std::string path = dir.Path() + "config.ini";
  Settings s;
  s.DefaultPath = "/data/maps";
  s.Proxy.UseProxy = false;
  s.Proxy.ProxyServer = "proxy.local";
  WriteOptions(path, s);
  EXPECT_EQ(GetBytes(path),
            CrLf({"[IniParas]", "DefaultPath=/data/maps", "[Proxy]",
                  "UseProxy=0", "ProxyServer=proxy.local",
                  "ProxyPort=", "ProxyUsername=", "ProxyPassword="}));
}

// The proxy the options dialog writes is the one a task's workers get: read
// back from the file (written over the last one) and copied into the
// parameters field for field.
TEST(WriteOptionsTest, ProxyReachesTheTaskWhole) {
  const ProxySettings cases[] = {
      {true, "127.0.0.1", "8888", "kuser", "kpass"},
      {true, "proxy.local", "3128", "", ""},
      {false, "kept.when.off", "not a port", "u", "p w"},
      {false, "", "", "", ""},
  };
  TempDir dir;
  const std::string path = dir.Path() + "config.ini";
  for (const ProxySettings &proxy : cases) {
    SCOPED_TRACE(proxy.ProxyServer);
    Settings s;
    s.DefaultPath = "/data";
    s.Proxy = proxy;
    WriteOptions(path, s);
    const Settings read = ReadSettings(path);
    EXPECT_TRUE(read.Proxy == proxy);
    EXPECT_TRUE(ParametersFor(CheckedTaskInput{}, read, false).Proxy == proxy);
  }
}

TEST(WriteOptionsTest, MissingIniFolderIsReported) {
  TempDir dir;
  const std::string path = dir.Path() + "ini/config.ini";
  try {
    WriteOptions(path, Settings{});
    FAIL() << "the refused write was not reported";
  } catch (const KError &e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
  EXPECT_FALSE(tasktest::Exists(dir.Path() + "ini"));
}

// The settings file holds the proxy password: one that the program creates
// is its owner's alone, whatever the umask; one that exists keeps the mode
// its owner gave it.
TEST(WriteOptionsTest, NewFileIsPrivateAndAnExistingOneKeepsItsMode) {
  const mode_t oldMask = ::umask(022);
  struct Row {
    const char *what;
    int existingMode; // -1: no file yet
    mode_t want;
  };
  const Row rows[] = {
      {"created", -1, 0600},
      {"existing, shared with the group", 0640, 0640},
      {"existing, readable by all", 0644, 0644},
      {"existing, private", 0600, 0600},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const std::string path = dir.Path() + "config.ini";
    if (row.existingMode >= 0) {
      PutBytes(path, "[Proxy]\r\n");
      ASSERT_EQ(::chmod(path.c_str(), static_cast<mode_t>(row.existingMode)),
                0);
    }
    Settings s;
    s.Proxy.ProxyPassword = "kpass";
    WriteOptions(path, s);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, row.want);
  }
  ::umask(oldMask);
}

// The folders the first save makes for the user's settings file are the
// user's alone (the file holds the proxy password); a folder that was
// there already keeps its mode.
TEST(PrepareSettingsFolderTest, FoldersItMakesArePrivate) {
  const mode_t oldMask = ::umask(022);
  struct Row {
    const char *what;
    bool configHomeThere; // XDG_CONFIG_HOME made (0755) before
  };
  for (const Row &row : {Row{"config home made too", false},
                         Row{"config home already there", true}}) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const std::string home = dir.Path() + "config";
    if (row.configHomeThere) {
      ASSERT_EQ(::mkdir(home.c_str(), 0755), 0);
    }
    const ScopedConfigHome config(home.c_str());
    PrepareSettingsFolder(UserSettingsPath());
    const auto mode = [](const std::string &path) {
      struct stat st {};
      EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
      return st.st_mode & 07777;
    };
    EXPECT_EQ(mode(home), row.configHomeThere ? 0755u : 0700u);
    EXPECT_EQ(mode(home + "/kestrane"), 0700u);
    WriteOptions(UserSettingsPath(), Settings{});
    EXPECT_EQ(mode(home + "/kestrane/config.ini"), 0600u);
  }
  ::umask(oldMask);
}

// A settings file that is no bounded regular file is refused at once with
// the read-failure text; nothing waits for a FIFO's writer.
TEST(ReadSettingsTest, NoRegularFileIsRefused) {
  TempDir dir;
  const std::string fifo = dir.Path() + "fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string big = dir.Path() + "big.ini";
  PutBytes(big, "[IniParas]\r\nDefaultPath=/x\r\n");
  ASSERT_EQ(::truncate(big.c_str(), (1 << 20) + 1), 0);
  for (const std::string &path :
       {fifo, dir.Path(), big, std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    ::alarm(20); // a read that waits ends the test program
    try {
      ReadSettings(path);
      ADD_FAILURE() << "read as settings";
    } catch (const KError &e) {
      EXPECT_EQ(std::string(e.what()), "Cannot open file " + path);
    }
    ::alarm(0);
  }
}

} // namespace
} // namespace kestrane
