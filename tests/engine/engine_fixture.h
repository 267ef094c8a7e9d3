// Shared scaffolding of the engine tests: a main window made of plain data, a scratch
// directory tree, settings at their defaults, a fixed log clock and the calls the stand-in
// archivers recorded.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/settings.h"
#include "engine/run_window.h"

namespace tavrun::test {

class FakeWindow : public RunWindow {
 public:
  std::map<std::string, std::string> boxes;
  std::map<std::string, std::vector<bool>> options;  // "Option1", "Option2"
  std::map<std::string, bool> enabled;
  std::vector<std::string> events;  // every call, in order
  std::string status;
  std::string focus;
  uintptr_t handle = 4660;
  // Called on every yield, so a test can act "while the run goes on".
  std::function<void()> onYield;
  // Controls whose switching throws.
  std::vector<std::string> brokenControls;

  std::string BoxText(const std::string& control) const override;
  int OptionCount(const std::string& group) const override;
  bool OptionSelected(const std::string& group, int index) const override;
  void SetControlEnabled(const std::string& control, bool on) override;
  void SetStatusPanelText(const std::string& text) override;
  void FocusControl(const std::string& control) override;
  void ProcessPendingEvents() override;
  uintptr_t NativeHandle() const override { return handle; }

  std::vector<std::string> StatusTexts() const;  // the "status:" events without the prefix
};

std::string MakeTempDirectory();
void RemoveTree(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
std::vector<std::string> SplitLines(const std::string& text, const std::string& separator);
bool IsDir(const std::string& path);

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Lines of the log without the fixed time stamp "2024/03/05 14:07:09".
  std::vector<std::string> LogLines() const;
  // Calls the stand-in archivers recorded, as "Entry|...|command line" without the sequence.
  std::vector<std::string> Calls() const;
  void UseFakeArchivers();
  void UseComponentDirectory(const std::string& directory);

  std::string root_;  // scratch directory, ends without "/"
  std::string in_;    // root_/in/
  std::string out_;   // root_/out/
  std::string callLog_;
  FakeWindow window_;
};

inline constexpr const char* LogStamp = "2024/03/05 14:07:09";

}  // namespace tavrun::test
