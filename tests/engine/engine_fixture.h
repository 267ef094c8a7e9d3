// Scaffolding of the engine tests: a main window made of plain data, a scratch directory
// tree, default settings with the log on, a fixed log clock, and the calls that the stand-in
// archivers recorded.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
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

// The inputs as the main window's controls would hold them, and what the run did to it in
// order ("disable", "enable", "focus:Text1" ...).
class FakeWindow : public RunWindow {
 public:
  std::map<std::string, std::string> boxes;          // "Text1", "Text2"
  std::map<std::string, std::vector<bool>> options;  // "Option1", "Option2"
  Lines events;
  std::string status;
  uintptr_t handle = 4660;
  std::function<void()> onStatus;
  int batches = 0;

  RunInputs Inputs() const override {
    RunInputs inputs;
    inputs.source = boxes.at("Text1");
    inputs.target = boxes.at("Text2");
    inputs.operation = FirstSelected("Option1");
    inputs.format = FirstSelected("Option2");
    return inputs;
  }
  void SetInputsEnabled(bool on) override { events.push_back(on ? "enable" : "disable"); }
  void Focus(RunFocus c) override {
    const char* names[] = {"Text1", "Text2", "Option1(0)", "Option1(1)"};
    events.push_back(std::string("focus:") + names[static_cast<int>(c)]);
  }
  void SetStatusPanelText(const std::string& text) override {
    status = text;
    if (onStatus) onStatus();
  }
  uintptr_t NativeHandle() const override { return handle; }
  void RunBatchWork(const std::function<void()>& batch) override {
    ++batches;
    batch();
  }

 private:
  int FirstSelected(const std::string& group) const {
    const auto& buttons = options.at(group);
    for (size_t i = 0; i < buttons.size(); ++i) {
      if (buttons[i]) return static_cast<int>(i);
    }
    return -1;
  }
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

inline Lines SplitLines(const std::string& text, const std::string& separator) {
  Lines lines;
  for (size_t start = 0, end; start < text.size(); start = end + separator.size()) {
    end = std::min(text.find(separator, start), text.size());
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// The first of this build's archiver libraries that is missing, or "" when all are built.
inline std::string MissingRealLibrary() {
  for (const char* file : {"libunlha32.so", "libzip32j.so", "libzip32.so", "libunzip32.so"}) {
    const std::string path = std::string(TAVRUN_REAL_COMPONENT_DIR) + "/" + file;
    if (!std::filesystem::exists(path)) return path;
  }
  return "";
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
  // This build's archiver libraries instead of the fake one, with no library dialog; skips
  // the test, visibly, when one is not built (the caller returns when IsSkipped()).
  void UseRealLibraries() {
    if (const std::string missing = MissingRealLibrary(); !missing.empty()) {
      GTEST_SKIP() << "archiver library not built: " << missing;
    }
    SetSysDirForTesting(TAVRUN_REAL_COMPONENT_DIR);
    Setting(LzhControlDialog) = Setting(ZipControlDialog) = Setting(UnzipControlDialog) = "1";
  }
  void TearDown() override {
    SetLogClock({});
    SetSysDirForTesting("");
    unsetenv("TAVRUN_FAKE_ARCHIVER_LOG");
    std::filesystem::remove_all(root_);
  }

  // "@i/" and "@o/" stand for the source and target directories in expected texts.
  Lines Expand(Lines lines) const {
    for (auto& line : lines) {
      for (auto [token, path] : {std::pair{"@i/", in_}, std::pair{"@o/", out_}}) {
        for (size_t at; (at = line.find(token)) != std::string::npos;) line.replace(at, 3, path);
      }
    }
    return lines;
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
  // "Entry window/size command line" or "CheckEntry mode path", as the stand-ins recorded them.
  Lines Calls() const { return SplitLines(ReadFile(callLog_), "\n"); }

  std::string root_, in_, out_, callLog_;
  FakeWindow window_;
};

}  // namespace tavrun::test
