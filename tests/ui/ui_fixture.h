// Scaffolding of the UI tests: a scratch directory that stands for the executable's
// directory, settings read from a file the test writes, scripted message boxes and folder
// choices, and the main window.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/seams.h"
#include "ui/main_window.h"

class QWidget;

namespace tavrun::uitest {

// Which archiver libraries count as present: LZH, ZIP creation, ZIP extraction.
struct Libraries {
  bool lzh = true;
  bool zipCreate = true;
  bool zipExtract = true;
};

std::string MakeScratchDirectory();
void RemoveTree(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// A message box answered by the test: the callback sees the window as it is while the box
// would be shown and gives the answer.
using BoxScript = std::function<int32_t(const MessageRecord& box)>;

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes Tavrun.ini (when not empty), runs the settings initialisation and sets the tables.
  void Init(const std::string& ini = "", Libraries libraries = {});
  // Creates, loads, shows and activates the main window.
  ui::FrmTavrunMain* OpenMain();
  // Answers the next boxes in order; a box beyond the script answers 0 and fails the test.
  void Script(std::vector<BoxScript> boxes);
  static BoxScript Answer(int32_t answer);
  std::vector<MessageRecord> Messages() const;

  template <class T>
  T* Find(const char* name) const {
    return window_ ? window_->findChild<T*>(QString::fromUtf8(name)) : nullptr;
  }
  QWidget* FocusedWidget() const;
  std::string FocusedName() const;

  std::string dir_;  // the executable's directory, without "/"
  std::string ini_;  // dir_/Tavrun.ini
  std::unique_ptr<ui::FrmTavrunMain> window_;
  std::deque<BoxScript> script_;
  int processEnds_ = 0;
};

}  // namespace tavrun::uitest
