#include "ui/option_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>
#include <string>

#include "app/settings.h"
#include "ui/fonts.h"
#include "ui/radio_tab.h"

namespace tavrun::ui {
namespace {

// A field read as a whole number as the settings define it; -32768 stands for no number,
// which matches none of the values the controls know.
int Number(SettingIndex index) {
  int16_t value = 0;
  return ToInt16(Setting(index), value) ? value : -32768;
}

QCheckBox* MakeCheck(QWidget* parent, const QString& name, const char* caption, int left, int top) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
  box->setObjectName(name);
  box->setGeometry(TwRect(left, top, 5190, 255));
  return box;
}

QRadioButton* MakeOption(QWidget* parent, const QString& name, const char* caption, QRect rect) {
  auto* button = new QRadioButton(QString::fromUtf8(caption), parent);
  button->setObjectName(name);
  button->setGeometry(rect);
  return button;
}

QGroupBox* MakeFrame(QWidget* parent, const char* name, const char* caption, QRect rect) {
  auto* frame = new QGroupBox(QString::fromUtf8(caption), parent);
  frame->setObjectName(QString::fromUtf8(name));
  frame->setGeometry(rect);
  return frame;
}

bool Checked(const QCheckBox* box) {
  return box->checkState() == Qt::Checked;
}

}  // namespace

TabStrip::TabStrip(QWidget* parent) : QWidget(parent) {
  bar_ = new QTabBar(this);
  bar_->setObjectName(QStringLiteral("TabStrip1_tabs"));
  bar_->setDrawBase(false);
  bar_->setExpanding(false);
  setFocusProxy(bar_);
}

void TabStrip::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  bar_->setGeometry(0, 0, width(), bar_->sizeHint().height());
}

void TabStrip::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionTabWidgetFrame option;
  option.initFrom(this);
  const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
  const int top = bar_->sizeHint().height() - overlap;
  option.rect = QRect(0, top, width(), height() - top);
  option.shape = bar_->shape();
  option.tabBarSize = bar_->sizeHint();
  option.tabBarRect = QRect(0, 0, bar_->sizeHint().width(), bar_->sizeHint().height());
  option.selectedTabRect = bar_->tabRect(bar_->currentIndex());
  option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  painter.drawPrimitive(QStyle::PE_FrameTabWidget, option);
}

FrmTavrunOption::FrmTavrunOption(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmTavrunOption"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(Tw(5910), Tw(3840));

  tabStrip1_ = new TabStrip(this);
  tabStrip1_->setObjectName(QStringLiteral("TabStrip1"));
  tabStrip1_->setGeometry(TwRect(60, 60, 5790, 3265));
  for (const char* caption : {"共通", "LZH", "ZIP"}) {
    tabStrip1_->tabBar()->addTab(QString::fromUtf8(caption));
  }
  for (int i = 0; i < 3; ++i) {
    frame1_[i] = new QWidget(this);
    frame1_[i]->setObjectName(QStringLiteral("Frame1_%1").arg(i));
    frame1_[i]->setGeometry(TwRect(120, 360, 5670, 2905));
  }

  // Page 共通.
  QWidget* common = frame1_[0];
  check1_[0] =
      MakeCheck(common, QStringLiteral("Check1_0"), "個別にディレクトリを作成して解凍", 240, 240);
  frame4_ = MakeFrame(common, "Frame4", "ログ出力レベル", TwRect(240, 600, 5190, 615));
  option2_[0] =
      MakeOption(frame4_, QStringLiteral("Option2_0"), "なし", TwRect(240, 240, 855, 255));
  option2_[1] =
      MakeOption(frame4_, QStringLiteral("Option2_1"), "エラー", TwRect(1485, 240, 975, 255));
  option2_[2] =
      MakeOption(frame4_, QStringLiteral("Option2_2"), "警告", TwRect(2850, 240, 855, 255));
  option2_[3] =
      MakeOption(frame4_, QStringLiteral("Option2_3"), "全て", TwRect(4095, 240, 855, 255));

  // Page LZH.
  QWidget* lzh = frame1_[1];
  const char* lzhChecks[] = {"ファイル日付をチェックしない", "進捗ダイアログを表示しない",
                             "書庫日時を書庫内のファイルに合わせる （圧縮時のみ）",
                             "上書き確認をしない"};
  for (int i = 0; i < 4; ++i) {
    check2_[i] =
        MakeCheck(lzh, QStringLiteral("Check2_%1").arg(i), lzhChecks[i], 240, 240 + 360 * i);
  }
  frame2_ = MakeFrame(lzh, "Frame2", "圧縮形式 （圧縮時のみ）", TwRect(240, 1680, 5190, 615));
  option1_[0] = MakeOption(frame2_, QStringLiteral("Option1_0"), "lh0（無圧縮）",
                           TwRect(240, 240, 1335, 255));
  option1_[1] =
      MakeOption(frame2_, QStringLiteral("Option1_1"), "lh5（推奨）", TwRect(1845, 240, 1095, 255));
  option1_[2] =
      MakeOption(frame2_, QStringLiteral("Option1_2"), "lh6", TwRect(3210, 240, 735, 255));
  option1_[3] =
      MakeOption(frame2_, QStringLiteral("Option1_3"), "lh7", TwRect(4215, 240, 735, 255));
  check2_[4] = MakeCheck(lzh, QStringLiteral("Check2_4"), "読取専用は上書きしない （解凍時のみ）",
                         240, 2400);

  // Page ZIP.
  QWidget* zip = frame1_[2];
  check3_[0] =
      MakeCheck(zip, QStringLiteral("Check3_0"), "圧縮進捗ダイアログを表示しない", 240, 240);
  check3_[1] = MakeCheck(zip, QStringLiteral("Check3_1"),
                         "書庫日時を書庫内のファイルに合わせる （圧縮時のみ）", 240, 600);
  frame3_ = MakeFrame(zip, "Frame3", "圧縮レベル （0：無圧縮、1：高速・低圧縮 ～ 9：低速・高圧縮）",
                      TwRect(240, 960, 5190, 615));
  slider1_ = new QSlider(Qt::Horizontal, frame3_);
  slider1_->setObjectName(QStringLiteral("Slider1"));
  slider1_->setGeometry(TwRect(240, 240, 4710, 255));
  slider1_->setRange(0, 9);
  slider1_->setSingleStep(1);
  slider1_->setPageStep(1);
  slider1_->setTickInterval(1);
  slider1_->setTickPosition(QSlider::TicksBelow);
  check3_[2] =
      MakeCheck(zip, QStringLiteral("Check3_2"), "解凍進捗ダイアログを表示しない", 240, 1680);
  check3_[3] =
      MakeCheck(zip, QStringLiteral("Check3_3"), "上書き確認をしない （解凍時のみ）", 240, 2040);

  command1_ = new QPushButton(QStringLiteral("保存"), this);
  command1_->setObjectName(QStringLiteral("Command1"));
  command1_->setGeometry(TwRect(3120, 3405, 1335, 375));
  command1_->setDefault(true);
  command2_ = new QPushButton(QStringLiteral("キャンセル"), this);
  command2_->setObjectName(QStringLiteral("Command2"));
  command2_->setGeometry(TwRect(4515, 3405, 1335, 375));
  command2_->setAutoDefault(false);

  // The radio buttons of one frame exclude each other.
  for (QGroupBox* frame : {frame2_, frame4_}) {
    auto* group = new QButtonGroup(frame);
    for (QRadioButton* button : frame->findChildren<QRadioButton*>()) group->addButton(button);
  }

  // Tab order by TabIndex; the frames and pages are containers, not tab stops.
  QWidget* order[] = {tabStrip1_->tabBar(), check1_[0],  check2_[0],  check2_[1],  check2_[2],
                      check2_[3],           option1_[0], option1_[1], option1_[2], option1_[3],
                      check2_[4],           check3_[0],  check3_[1],  slider1_,    check3_[2],
                      check3_[3],           command1_,   command2_,   option2_[0], option2_[1],
                      option2_[2],          option2_[3]};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  connect(tabStrip1_->tabBar(), &QTabBar::currentChanged, this,
          [this](int index) { TabStrip1_Click(index + 1); });
  connect(command1_, &QPushButton::clicked, this, [this] { Command1_Click(); });
  connect(command2_, &QPushButton::clicked, this, [this] { Command2_Click(); });
}

bool FrmTavrunOption::focusNextPrevChild(bool next) {
  return MoveTabFocus(this, next) || QDialog::focusNextPrevChild(next);
}

void FrmTavrunOption::Form_Load() {
  setWindowTitle(QString::fromUtf8(AppTitle) + QStringLiteral(" オプション"));
  tabStrip1_->tabBar()->setCurrentIndex(0);
  TabStrip1_Click(1);
  LoadOptionControls();
}

void FrmTavrunOption::TabStrip1_Click(int tabIndex) {
  if (tabIndex < 1 || tabIndex > 3) return;
  for (int i = 0; i < 3; ++i) {
    if (i == tabIndex - 1) {
      frame1_[i]->raise();
      frame1_[i]->setVisible(true);
    } else {
      frame1_[i]->setVisible(false);
    }
  }
}

void FrmTavrunOption::LoadOptionControls() {
  // Every control starts cleared; an exclusive group has to let go to clear its buttons.
  for (QCheckBox* box : findChildren<QCheckBox*>()) box->setChecked(false);
  for (QRadioButton* button : findChildren<QRadioButton*>()) {
    QButtonGroup* group = button->group();
    if (group) group->setExclusive(false);
    button->setChecked(false);
    if (group) group->setExclusive(true);
  }
  slider1_->setValue(0);

  check1_[0]->setChecked(Number(MakeDirectory) == 1);
  switch (Number(LogLevel)) {
    case 0: option2_[3]->setChecked(true); break;
    case 2: option2_[2]->setChecked(true); break;
    case 3: option2_[1]->setChecked(true); break;
    default:  // 9, and 1 which takes the same lines as 0 but has no button of its own
      option2_[0]->setChecked(true);
  }
  check2_[0]->setChecked(Number(LzhCheckTimestamp) == 1);
  check2_[1]->setChecked(Number(LzhControlDialog) == 1);
  check2_[2]->setChecked(Number(LzhArchiveTime) == 1);
  check2_[3]->setChecked(Number(LzhOverwriteConfirm) == 1);
  switch (Number(LzhCompressRate)) {
    case 0: option1_[0]->setChecked(true); break;
    case 3: option1_[2]->setChecked(true); break;
    case 4: option1_[3]->setChecked(true); break;
    default:  // 2, and 1 which compresses as 2
      option1_[1]->setChecked(true);
  }
  check2_[4]->setChecked(Number(LzhReadonlyConfirm) == 2);
  check3_[0]->setChecked(Number(ZipControlDialog) == 1);
  check3_[1]->setChecked(Number(ZipArchiveTime) == 1);
  const int rate = Number(ZipCompressRate);
  slider1_->setValue(rate >= 0 && rate <= 9 ? rate : 6);
  check3_[2]->setChecked(Number(UnzipControlDialog) == 1);
  check3_[3]->setChecked(Number(UnzipOverwriteConfirm) == 2);
}

void FrmTavrunOption::SaveOptionControls() {
  auto flag = [](const QCheckBox* box, const char* on) { return Checked(box) ? on : "0"; };
  Setting(MakeDirectory) = flag(check1_[0], "1");
  Setting(LogLevel) = option2_[0]->isChecked()   ? "9"
                      : option2_[1]->isChecked() ? "3"
                      : option2_[2]->isChecked() ? "2"
                      : option2_[3]->isChecked() ? "0"
                                                 : "9";
  Setting(LzhCheckTimestamp) = flag(check2_[0], "1");
  Setting(LzhControlDialog) = flag(check2_[1], "1");
  Setting(LzhArchiveTime) = flag(check2_[2], "1");
  Setting(LzhOverwriteConfirm) = flag(check2_[3], "1");
  Setting(LzhCompressRate) = option1_[0]->isChecked()   ? "0"
                             : option1_[1]->isChecked() ? "2"
                             : option1_[2]->isChecked() ? "3"
                             : option1_[3]->isChecked() ? "4"
                                                        : "2";
  Setting(LzhReadonlyConfirm) = flag(check2_[4], "2");
  Setting(ZipControlDialog) = flag(check3_[0], "1");
  Setting(ZipArchiveTime) = flag(check3_[1], "1");
  const int rate = slider1_->value();
  Setting(ZipCompressRate) = rate >= 0 && rate <= 9 ? std::to_string(rate) : "6";
  Setting(UnzipControlDialog) = flag(check3_[2], "1");
  Setting(UnzipOverwriteConfirm) = flag(check3_[3], "2");
  std::string errorText;
  WriteIniValues(App().IniFilePath, SettingCount, App().SettingKeys, App().AppSettings, errorText);
}

void FrmTavrunOption::Command1_Click() {
  SaveOptionControls();
  accept();
}

void FrmTavrunOption::Command2_Click() {
  reject();
}

void ShowOptionDialog(QWidget* owner) {
  FrmTavrunOption dialog(owner);
  dialog.Form_Load();
  dialog.exec();
}

}  // namespace tavrun::ui
