// frmTavrunOption: the options dialog with the pages Common, LZH and ZIP.
#pragma once

#include <QDialog>
#include <array>

class QCheckBox;
class QGroupBox;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabBar;

namespace tavrun::ui {

// A row of tabs over a framed pane; the pages lie over it as separate containers and the
// owner decides which one shows.
class TabStrip : public QWidget {
  Q_OBJECT
 public:
  explicit TabStrip(QWidget* parent = nullptr);
  QTabBar* tabBar() const { return bar_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QTabBar* bar_ = nullptr;
};

class FrmTavrunOption : public QDialog {
  Q_OBJECT
 public:
  explicit FrmTavrunOption(QWidget* parent = nullptr);

  // Caption, first page, controls from the settings.
  void Form_Load();
  // Shows the page of the 1-based tab index; other indexes change nothing.
  void TabStrip1_Click(int tabIndex);
  void Command1_Click();  // Save
  void Command2_Click();  // Cancel

  // Settings 5 to 17 into the controls, and back followed by writing all 18 keys.
  void LoadOptionControls();
  void SaveOptionControls();

 protected:
  // Tab lands on the selected button of an option group, and leaves the group on the next.
  bool focusNextPrevChild(bool next) override;

 private:
  TabStrip* tabStrip1_ = nullptr;
  std::array<QWidget*, 3> frame1_{};
  std::array<QCheckBox*, 1> check1_{};
  std::array<QCheckBox*, 5> check2_{};
  std::array<QCheckBox*, 4> check3_{};
  std::array<QRadioButton*, 4> option1_{};  // LZH method
  std::array<QRadioButton*, 4> option2_{};  // log level
  QGroupBox* frame2_ = nullptr;
  QGroupBox* frame3_ = nullptr;
  QGroupBox* frame4_ = nullptr;
  QSlider* slider1_ = nullptr;
  QPushButton* command1_ = nullptr;
  QPushButton* command2_ = nullptr;
};

// Shows a fresh dialog modally over `owner` and returns when it is closed.
void ShowOptionDialog(QWidget* owner);

}  // namespace tavrun::ui
