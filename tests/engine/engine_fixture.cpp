#include "engine_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "app/runtime.h"
#include "common/log.h"
#include "common/seams.h"

namespace tavrun::test {

std::string FakeWindow::BoxText(const std::string& control) const {
  auto found = boxes.find(control);
  return found == boxes.end() ? std::string() : found->second;
}

int FakeWindow::OptionCount(const std::string& group) const {
  auto found = options.find(group);
  return found == options.end() ? 0 : static_cast<int>(found->second.size());
}

bool FakeWindow::OptionSelected(const std::string& group, int index) const {
  return options.at(group).at(static_cast<size_t>(index));
}

void FakeWindow::SetControlEnabled(const std::string& control, bool on) {
  events.push_back((on ? "enable:" : "disable:") + control);
  for (const auto& broken : brokenControls) {
    if (broken == control) throw std::runtime_error("control gone");
  }
  enabled[control] = on;
}

void FakeWindow::SetStatusPanelText(const std::string& text) {
  events.push_back("status:" + text);
  status = text;
}

void FakeWindow::FocusControl(const std::string& control) {
  events.push_back("focus:" + control);
  focus = control;
}

void FakeWindow::ProcessPendingEvents() {
  events.push_back("yield");
  if (onYield) onYield();
}

std::vector<std::string> FakeWindow::StatusTexts() const {
  std::vector<std::string> texts;
  for (const auto& event : events) {
    if (event.rfind("status:", 0) == 0) texts.push_back(event.substr(7));
  }
  return texts;
}

std::string MakeTempDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavrun-engine-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  return made;
}

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  // Directories a test made read-only must become writable again to go.
  for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path, ignored);
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  if (!file) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

std::vector<std::string> SplitLines(const std::string& text, const std::string& separator) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + separator.size();
  }
  return lines;
}

bool IsDir(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void EngineTest::SetUp() {
  root_ = MakeTempDirectory();
  in_ = root_ + "/in/";
  out_ = root_ + "/out/";
  mkdir(in_.c_str(), 0755);
  mkdir(out_.c_str(), 0755);
  callLog_ = root_ + "/calls.txt";
  setenv("TAVRUN_FAKE_ARCHIVER_LOG", callLog_.c_str(), 1);

  AppState& app = App();
  app.AppSettings.clear();
  for (int i = 0; i < SettingCount; ++i) {
    app.AppSettings.push_back(SettingDefault(static_cast<SettingIndex>(i)));
  }
  app.LogFilePath = root_ + "/Tavrun.log";
  Setting(LogLevel) = "0";
  Setting(FromDirectory) = in_;
  Setting(ToDirectory) = out_;
  SetLogClock([] {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 14;
    t.tm_min = 7;
    t.tm_sec = 9;
    return t;
  });
  ClearMessageAnswers();
  ClearMessageHistory();
  UseFakeArchivers();
}

void EngineTest::TearDown() {
  SetLogClock({});
  ClearMessageAnswers();
  ClearMessageHistory();
  SetSysDirForTesting("");
  unsetenv("TAVRUN_FAKE_ARCHIVER_LOG");
  RemoveTree(root_);
}

std::vector<std::string> EngineTest::LogLines() const {
  std::vector<std::string> lines;
  for (auto& line : SplitLines(ReadFile(App().LogFilePath), "\r\n")) {
    const std::string stamp = LogStamp;
    if (line.rfind(stamp, 0) == 0) line = line.substr(stamp.size());
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> EngineTest::Calls() const {
  static const std::regex sequence("\\|seq=[0-9]+");
  std::vector<std::string> calls;
  for (const auto& line : SplitLines(ReadFile(callLog_), "\n")) {
    calls.push_back(std::regex_replace(line, sequence, ""));
  }
  return calls;
}

void EngineTest::UseFakeArchivers() { SetSysDirForTesting(TAVRUN_FAKE_DIR); }

void EngineTest::UseComponentDirectory(const std::string& directory) {
  SetSysDirForTesting(directory);
}

}  // namespace tavrun::test
