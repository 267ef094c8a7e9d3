// frmTavrunMain: the program's main window. It implements the engine's view of the window,
// so the run command drives the real widgets.
#pragma once

#include <QMainWindow>
#include <array>
#include <atomic>
#include <functional>
#include <string>

#include "engine/run_window.h"

class QAction;
class QButtonGroup;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;

namespace tavrun::ui {

class DirBox;
class LockKeyState;

class FrmTavrunMain : public QMainWindow, public RunWindow {
  Q_OBJECT
 public:
  explicit FrmTavrunMain(QWidget* parent = nullptr);
  ~FrmTavrunMain() override;

  // Fills the window from the settings: caption, the two boxes, the stored operation.
  void Form_Load();
  // Close request: mode 0 is the user's close box or window menu, which goes through the exit
  // question and keeps the window; every other mode closes without asking.
  void Form_QueryUnload(bool& cancel, int unloadMode);

  // Operation and format switches, run for a user's click and for a program's selection.
  void Option1_Click(int index);
  void Option2_Click(int index);
  // Selects a button as the program does, which raises its click handling.
  void SelectOption1(int index);
  void SelectOption2(int index);

  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  void mnuFrom_Click();
  void mnuTo_Click();
  void mnuRun_Click();
  void mnuExit_Click();
  void mnuLog_Click();
  void mnuClearLog_Click();
  void mnuOption_Click();
  void mnuReadme_Click();
  void mnuVersion_Click();

  // Text of a status-bar panel, 1 to 4 (tests and screenshots).
  QString statusPanelText(int panel) const;
  LockKeyState& lockKeys() { return *lockKeys_; }

  // RunWindow
  RunInputs Inputs() const override;
  void SetInputsEnabled(bool enabled) override;
  void Focus(RunFocus control) override;
  void SetStatusPanelText(const std::string& text) override;
  uintptr_t NativeHandle() const override;
  void RunBatchWork(const std::function<void()>& batch) override;

  // One input of the lock list by its control name ("mnuD" ... "Frame2"); tests and the lock.
  void SetControlEnabled(const std::string& control, bool enabled);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void BuildMenus();
  void BuildStatusBar();
  void ShowLockKeys();
  void Deselect(QButtonGroup* group, QRadioButton* button);
  void Browse(DirBox* box);
  QWidget* ControlByName(const std::string& name) const;

  QLabel* label1_ = nullptr;
  QLabel* label2_ = nullptr;
  DirBox* text1_ = nullptr;
  DirBox* text2_ = nullptr;
  QPushButton* command1_ = nullptr;
  QPushButton* command2_ = nullptr;
  QPushButton* command3_ = nullptr;
  QGroupBox* frame1_ = nullptr;
  QGroupBox* frame2_ = nullptr;
  std::array<QRadioButton*, 2> option1_{};
  std::array<QRadioButton*, 2> option2_{};
  QButtonGroup* group1_ = nullptr;
  QButtonGroup* group2_ = nullptr;
  QMenu* mnuD_ = nullptr;
  QMenu* mnuT_ = nullptr;
  QMenu* mnuH_ = nullptr;
  std::array<QLabel*, 4> panels_{};
  LockKeyState* lockKeys_ = nullptr;
  bool selecting_ = false;  // a program's selection raises the click handler itself
  mutable std::atomic<uintptr_t> handle_{0};  // winId() as read on the UI thread, for the worker
};

// The process's main window once start-up has shown it; null before and in most tests.
FrmTavrunMain* MainWindow();
void SetMainWindow(FrmTavrunMain* window);

}  // namespace tavrun::ui
