// Scaffolding of the engine tests: a main window made of plain data, a scratch directory
// tree, default settings with the log on, a fixed log clock, and the calls that the stand-in
// archivers recorded.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/runtime.h"
#include "app/settings.h"
#include "common/log.h"
#include "common/seams.h"
#include "engine/run_window.h"

namespace tavrun::test {

using Lines = std::vector<std::string>;

class FakeWindow : public RunWindow {
 public:
  std::map<std::string, std::string> boxes;
  std::map<std::string, std::vector<bool>> options;  // "Option1", "Option2"
  std::map<std::string, bool> enabled;
  Lines events;  // every call, in order
  std::string status;
  uintptr_t handle = 4660;
  std::function<void()> onYield;
  std::vector<std::string> brokenControls;  // switching these throws

  std::string BoxText(const std::string& c) const override {
    return boxes.count(c) ? boxes.at(c) : std::string();
  }
  int OptionCount(const std::string& g) const override {
    return options.count(g) ? static_cast<int>(options.at(g).size()) : 0;
  }
  bool OptionSelected(const std::string& g, int i) const override {
    return options.at(g).at(static_cast<size_t>(i));
  }
  void SetControlEnabled(const std::string& c, bool on) override {
    events.push_back((on ? "enable:" : "disable:") + c);
    for (const auto& broken : brokenControls) {
      if (broken == c) throw std::runtime_error("control gone");
    }
    enabled[c] = on;
  }
  void SetStatusPanelText(const std::string& text) override {
    events.push_back("status:" + text);
    status = text;
  }
  void FocusControl(const std::string& c) override { events.push_back("focus:" + c); }
  void ProcessPendingEvents() override {
    events.push_back("yield");
    if (onYield) onYield();
  }
  uintptr_t NativeHandle() const override { return handle; }

  Lines StatusTexts() const {
    Lines texts;
    for (const auto& e : events) {
      if (e.rfind("status:", 0) == 0) texts.push_back(e.substr(7));
    }
    return texts;
  }
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

inline Lines SplitLines(const std::string& text, const std::string& separator) {
  Lines lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + separator.size();
  }
  return lines;
}

inline bool IsDir(const std::string& path) {
  return std::filesystem::is_directory(path);
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tavrun-engine-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    in_ = root_ + "/in/";
    out_ = root_ + "/out/";
    mkdir(in_.c_str(), 0755);
    mkdir(out_.c_str(), 0755);
    callLog_ = root_ + "/calls.txt";
    setenv("TAVRUN_FAKE_ARCHIVER_LOG", callLog_.c_str(), 1);
    App().AppSettings.clear();
    for (int i = 0; i < SettingCount; ++i) {
      App().AppSettings.push_back(SettingDefault(static_cast<SettingIndex>(i)));
    }
    App().LogFilePath = root_ + "/Tavrun.log";
    Setting(LogLevel) = "0";
    Setting(FromDirectory) = in_;
    Setting(ToDirectory) = out_;
    SetLogClock([] {
      std::tm t{};
      t.tm_year = 124, t.tm_mon = 2, t.tm_mday = 5, t.tm_hour = 14, t.tm_min = 7, t.tm_sec = 9;
      return t;
    });
    ClearMessageAnswers();
    ClearMessageHistory();
    SetSysDirForTesting(TAVRUN_FAKE_DIR);
  }
  void TearDown() override {
    SetLogClock({});
    SetSysDirForTesting("");
    unsetenv("TAVRUN_FAKE_ARCHIVER_LOG");
    std::filesystem::remove_all(root_);
  }

  // Log lines with the fixed time stamp checked and cut off.
  Lines LogLines() const {
    Lines lines = SplitLines(ReadFile(App().LogFilePath), "\r\n");
    for (auto& line : lines) {
      EXPECT_EQ(line.substr(0, 19), "2024/03/05 14:07:09");
      line = line.substr(19);
    }
    return lines;
  }
  void ClearLog() const { std::remove(App().LogFilePath.c_str()); }
  // "Entry|...|command line or path" as the stand-ins recorded them, without the sequence.
  Lines Calls() const {
    static const std::regex sequence("\\|seq=[0-9]+");
    Lines calls;
    for (const auto& line : SplitLines(ReadFile(callLog_), "\n")) {
      calls.push_back(std::regex_replace(line, sequence, ""));
    }
    return calls;
  }

  std::string root_, in_, out_, callLog_;
  FakeWindow window_;
};

}  // namespace tavrun::test
