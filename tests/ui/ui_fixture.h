// Scaffolding of the UI tests: a scratch directory standing for the executable's directory,
// settings from a file the test writes, scripted message boxes and the main window.
#pragma once

#include <gtest/gtest.h>

#include <QList>
#include <QUrl>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "common/seams.h"
#include "test_support.h"
#include "ui/main_window.h"

namespace tavrun::uitest {

using testing::Exists;
using testing::ReadBytes;
using testing::WriteBytes;

// The message that ends a run without failure.
inline const std::string kDone = "処理が正常終了しました。";

struct Libraries {  // which archivers count as present
  bool lzh = true, zipCreate = true, zipExtract = true;
};

// A scripted message box: it sees the box while the window stands as it is, and answers.
using BoxScript = std::function<int32_t(const MessageRecord& box)>;
// Checks prompt, style and the title "Tavrun", then answers.
BoxScript Expect(const std::string& prompt, int32_t style, int32_t answer = IdOk);

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Writes Tavrun.ini (unless empty), initialises the settings and sets the archiver tables.
  void Init(const std::string& ini = "", Libraries libraries = {});
  void OpenMain();  // creates, loads, shows and activates the main window
  // The next boxes in order; a box beyond the script fails the test.
  void Script(std::vector<BoxScript> boxes) {
    for (BoxScript& box : boxes) script_.push_back(std::move(box));
  }
  template <class T = QWidget>
  T* Find(const char* name) const {
    return window_->findChild<T*>(QString::fromUtf8(name));
  }
  void Trigger(const char* action) const;  // a menu entry
  void Click(const char* button) const;
  // Drags onto a box and drops; whether the drag was accepted.
  bool Drop(const char* box, const QList<QUrl>& urls, const QString& text = {}) const;
  static std::string FocusedName();

  testing::TempDir tmp_;
  const std::string dir_ = tmp_.path();  // the executable's directory
  const std::string ini_ = dir_ + "/Tavrun.ini";
  std::unique_ptr<ui::FrmTavrunMain> window_;
  std::deque<BoxScript> script_;
  int processEnds_ = 0;
};

}  // namespace tavrun::uitest
