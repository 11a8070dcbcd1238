#pragma once
// What the window tests share: the registry of test classes run by the test
// program's main, a recording message sink, and a rig with a settings file
// and a loopback tile server.
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "tests/support/WorkerFixtures.h"

class QPlainTextEdit;

namespace kestrane::guitest {

// Test classes register themselves; main runs each with QTest::qExec.
using TestFactory = std::function<std::unique_ptr<QObject>()>;
int RegisterTest(const char *name, TestFactory factory);
struct RegisteredTest {
  std::string Name;
  TestFactory Factory;
};
const std::vector<RegisteredTest> &RegisteredTests();

#define KESTRANE_GUI_TEST(Class)                                               \
  static const int registered_##Class = ::kestrane::guitest::RegisterTest(     \
      #Class, [] { return std::unique_ptr<QObject>(new Class); })

// Message boxes recorded instead of shown. Questions are recorded as
// messages too; a question with answers is answered with the one whose text
// is Choice (its fallback when none is), a Yes/No question with Yes.
class RecordingSink : public MessageSink {
public:
  void ShowMessage(const std::string &text) override { Texts.push_back(text); }
  bool AskYesNo(const std::string &question) override {
    Texts.push_back(question);
    return Yes;
  }
  size_t AskChoice(const std::string &question,
                   const std::vector<std::string> &answers,
                   size_t fallback) override {
    Texts.push_back(question);
    Offered.push_back(answers);
    for (size_t i = 0; i < answers.size(); ++i)
      if (answers[i] == Choice)
        return i;
    return fallback;
  }
  std::string Last() const { return Texts.empty() ? "" : Texts.back(); }
  std::vector<std::string> Texts;
  std::vector<std::vector<std::string>> Offered;
  bool Yes = false;
  std::string Choice; // empty: the fallback
};

// Writes `lines` to `path`, each ended by CR LF.
void WriteTextFile(const std::string &path,
                   const std::vector<std::string> &lines);
std::string ReadTextFile(const std::string &path);
bool PathExists(const std::string &path);

// The lines of a pane as shown.
QStringList PaneLines(const QPlainTextEdit *pane);

// A folder with an ini/ subfolder for the settings file, and a tile server
// on loopback whose answers a test may script.
class GuiRig {
public:
  // Answers every tile with a JPEG after `delayMs`.
  explicit GuiRig(int delayMs = 0);
  GuiRig(test::WorkerTileServer::Script script);

  const std::string &Dir() const { return dir_.Path(); }
  std::string SettingsPath() const { return Dir() + "ini/config.ini"; }
  std::string Out() const { return Dir() + "out/"; }
  // Writes the settings file: the tile hosts on the server, then `extra`.
  void WriteSettings(const std::vector<std::string> &extra = {}) const;
  test::WorkerTileServer &Server() { return *server_; }

private:
  test::WorkerTempDir dir_;
  std::unique_ptr<test::WorkerTileServer> server_;
};

} // namespace kestrane::guitest
