#include "tests/windows/GuiTestSupport.h"

#include <QPlainTextEdit>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kestrane::guitest {

namespace {
std::vector<RegisteredTest> &Registry() {
  static std::vector<RegisteredTest> tests;
  return tests;
}
} // namespace

int RegisterTest(const char *name, TestFactory factory) {
  Registry().push_back({name, std::move(factory)});
  return static_cast<int>(Registry().size());
}

const std::vector<RegisteredTest> &RegisteredTests() {
  return Registry();
}

void WriteTextFile(const std::string &path,
                   const std::vector<std::string> &lines) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const std::string &line : lines)
    out << line << "\r\n";
}

std::string ReadTextFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

bool PathExists(const std::string &path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

QStringList PaneLines(const QPlainTextEdit *pane) {
  return pane->toPlainText().split(QLatin1Char('\n'));
}

GuiRig::GuiRig(int delayMs)
    : GuiRig([delayMs, jpeg = test::WorkerJpeg()](const HttpRequest &, int) {
        HttpResponse answer = test::WorkerOk(jpeg);
        answer.DelayMs = delayMs;
        return answer;
      }) {}

GuiRig::GuiRig(test::WorkerTileServer::Script script) {
  std::filesystem::create_directory(dir_.Path() + "ini");
  server_ = std::make_unique<test::WorkerTileServer>(std::move(script), 4);
}

void GuiRig::WriteSettings(const std::vector<std::string> &extra) const {
  std::vector<std::string> lines{"[TileService]"};
  const TileHosts hosts = server_->Hosts();
  for (size_t i = 0; i < hosts.size(); ++i)
    lines.push_back("Host" + std::to_string(i) + "=" + hosts[i]);
  lines.insert(lines.end(), extra.begin(), extra.end());
  WriteTextFile(SettingsPath(), lines);
}

} // namespace kestrane::guitest
