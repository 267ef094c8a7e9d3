// frmTavrunVersion: the about dialog with the icon, the title, the long version and the
// maker's web address.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace tavrun::ui {

inline constexpr const char* kMakerWebAddress = "https://tavrun.jp/";

class FrmTavrunVersion : public QDialog {
  Q_OBJECT
 public:
  explicit FrmTavrunVersion(QWidget* parent = nullptr);
  void Form_Load();

 protected:
  // No cancel button: Escape leaves the dialog open.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QLabel* image1_ = nullptr;
  QLabel* label1_ = nullptr;
  QLabel* label2_ = nullptr;
  QLabel* label3_ = nullptr;
  QPushButton* command1_ = nullptr;
};

// Shows a freshly loaded dialog modally without an owner and returns when it is closed.
void ShowVersionDialog();

}  // namespace tavrun::ui
