#include "ui/main_window.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QThread>
#include <memory>

#include "app/settings.h"
#include "engine/run_command.h"
#include "ui/commands.h"
#include "ui/dir_box.h"
#include "ui/folder_select.h"
#include "ui/fonts.h"
#include "ui/key_state.h"
#include "ui/option_dialog.h"
#include "ui/program_icon.h"
#include "ui/qt_seams.h"
#include "ui/run_scope.h"
#include "ui/shutdown.h"
#include "ui/version_dialog.h"

namespace tavrun::ui {
namespace {

FrmTavrunMain* mainWindow = nullptr;

// Client area below the menu bar: the controls and, along the bottom, the status bar.
constexpr int kClientWidth = 5910;
constexpr int kStatusTop = 3255;
constexpr int kStatusHeight = 255;

QRadioButton* MakeOption(QWidget* frame, const char* name, const char* caption, QRect rect) {
  auto* button = new QRadioButton(QString::fromUtf8(caption), frame);
  button->setObjectName(QString::fromUtf8(name));
  button->setGeometry(rect);
  return button;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, QRect rect) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  button->setObjectName(QString::fromUtf8(name));
  button->setGeometry(rect);
  // Enter and Escape start nothing in this window.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int left, int top) {
  auto* label = new QLabel(QString::fromUtf8(caption), parent);
  label->setObjectName(QString::fromUtf8(name));
  label->move(Tw(left), Tw(top));
  label->adjustSize();  // labels size themselves to their caption
  return label;
}

int ToIndex(const std::string& text) {
  int16_t value = 0;
  if (!ToInt16(text, value)) return -1;
  return value;
}

}  // namespace

FrmTavrunMain* MainWindow() {
  return mainWindow;
}
void SetMainWindow(FrmTavrunMain* window) {
  mainWindow = window;
}

FrmTavrunMain::FrmTavrunMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("frmTavrunMain"));
  // Fixed border: minimise and close, no maximise, no resizing.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(ProgramIcon());
  BuildControls();
  BuildMenus();
  BuildStatusBar();
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  adjustSize();
}

FrmTavrunMain::~FrmTavrunMain() {
  if (mainWindow == this) mainWindow = nullptr;
}

void FrmTavrunMain::BuildControls() {
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  client->setFixedSize(Tw(kClientWidth), Tw(kStatusTop + kStatusHeight));
  setCentralWidget(client);

  label1_ = MakeLabel(client, "Label1", "圧縮・解凍元ディレクトリ(&F)", 120, 120);
  text1_ = new DirBox(client);
  text1_->setObjectName(QStringLiteral("Text1"));
  text1_->setGeometry(TwRect(120, 360, 4815, 270));
  command1_ = MakeButton(client, "Command1", "参照", TwRect(5055, 360, 735, 270));
  label2_ = MakeLabel(client, "Label2", "圧縮・解凍先ディレクトリ(&T)", 120, 720);
  text2_ = new DirBox(client);
  text2_->setObjectName(QStringLiteral("Text2"));
  text2_->setGeometry(TwRect(120, 960, 4815, 270));
  command2_ = MakeButton(client, "Command2", "参照", TwRect(5055, 960, 735, 270));
  // A label's access key leads to the box that follows it.
  label1_->setBuddy(text1_);
  label2_->setBuddy(text2_);

  frame1_ = new QGroupBox(QStringLiteral("処理内容"), client);
  frame1_->setObjectName(QStringLiteral("Frame1"));
  frame1_->setGeometry(TwRect(120, 1320, 5670, 615));
  option1_[0] = MakeOption(frame1_, "Option1_0", "圧縮(&C)", TwRect(240, 240, 2355, 255));
  option1_[1] = MakeOption(frame1_, "Option1_1", "解凍(&E)", TwRect(2955, 240, 2355, 255));

  frame2_ = new QGroupBox(QStringLiteral("処理形式"), client);
  frame2_->setObjectName(QStringLiteral("Frame2"));
  frame2_->setGeometry(TwRect(120, 2040, 5670, 615));
  option2_[0] = MakeOption(frame2_, "Option2_0", "&LZH", TwRect(240, 240, 2355, 255));
  option2_[1] = MakeOption(frame2_, "Option2_1", "&ZIP", TwRect(2955, 240, 2355, 255));

  command3_ = MakeButton(client, "Command3", "実行(&R)", TwRect(4440, 2760, 1335, 375));

  group1_ = new QButtonGroup(this);
  group2_ = new QButtonGroup(this);
  for (int i = 0; i < 2; ++i) {
    group1_->addButton(option1_[i], i);
    group2_->addButton(option2_[i], i);
    connect(option1_[i], &QAbstractButton::toggled, this, [this, i](bool on) {
      if (on && !selecting_) Option1_Click(i);
    });
    connect(option2_[i], &QAbstractButton::toggled, this, [this, i](bool on) {
      if (on && !selecting_) Option2_Click(i);
    });
  }

  connect(command1_, &QPushButton::clicked, this, [this] { Command1_Click(); });
  connect(command2_, &QPushButton::clicked, this, [this] { Command2_Click(); });
  connect(command3_, &QPushButton::clicked, this, [this] { Command3_Click(); });

  // Tab order of the layout table; labels, frames and the status bar are no tab stops.
  QWidget* order[] = {text1_,      command1_,   text2_,      command2_, option1_[0],
                      option1_[1], option2_[0], option2_[1], command3_};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void FrmTavrunMain::BuildMenus() {
  auto addItem = [this](QMenu* menu, const char* name, const char* caption, auto handler) {
    QAction* action = menu->addAction(QString::fromUtf8(caption));
    action->setObjectName(QString::fromUtf8(name));
    connect(action, &QAction::triggered, this, handler);
    return action;
  };
  auto addSeparator = [](QMenu* menu, const char* name) {
    menu->addSeparator()->setObjectName(QString::fromUtf8(name));
  };

  mnuD_ = menuBar()->addMenu(QStringLiteral("ﾃﾞｨﾚｸﾄﾘ(&D)"));
  mnuD_->setObjectName(QStringLiteral("mnuD"));
  addItem(mnuD_, "mnuFrom", "圧縮・解凍元ﾃﾞｨﾚｸﾄﾘを開く(&F)", [this] { mnuFrom_Click(); });
  addItem(mnuD_, "mnuTo", "圧縮・解凍先ﾃﾞｨﾚｸﾄﾘを開く(&T)", [this] { mnuTo_Click(); });
  addSeparator(mnuD_, "mnuD1");
  addItem(mnuD_, "mnuRun", "処理実行(&R)", [this] { mnuRun_Click(); });
  addSeparator(mnuD_, "mnuD2");
  addItem(mnuD_, "mnuExit", "終了(&X)", [this] { mnuExit_Click(); });

  mnuT_ = menuBar()->addMenu(QStringLiteral("ﾂｰﾙ(&T)"));
  mnuT_->setObjectName(QStringLiteral("mnuT"));
  addItem(mnuT_, "mnuLog", "ﾛｸﾞ表示(&L)", [this] { mnuLog_Click(); });
  addItem(mnuT_, "mnuClearLog", "ﾛｸﾞ消去(&C)", [this] { mnuClearLog_Click(); });
  addSeparator(mnuT_, "mnuT1");
  addItem(mnuT_, "mnuOption", "ｵﾌﾟｼｮﾝ(&O)", [this] { mnuOption_Click(); });

  mnuH_ = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
  mnuH_->setObjectName(QStringLiteral("mnuH"));
  addItem(mnuH_, "mnuReadme", "Readme.txt(&R)", [this] { mnuReadme_Click(); });
  addSeparator(mnuH_, "mnuH1");
  addItem(mnuH_, "mnuVersion", "ﾊﾞｰｼﾞｮﾝ情報(&A)", [this] { mnuVersion_Click(); });
}

void FrmTavrunMain::BuildStatusBar() {
  // The bar is a control of the client area along its bottom edge, panels side by side.
  auto* bar = new QFrame(centralWidget());
  bar->setObjectName(QStringLiteral("StatusBar1"));
  bar->setGeometry(TwRect(0, kStatusTop, kClientWidth, kStatusHeight));
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  const char* texts[] = {"", "CAPS", "NUM", "INS"};
  for (int i = 0; i < 4; ++i) {
    auto* panel = new QLabel(QString::fromUtf8(texts[i]), bar);
    panel->setObjectName(QStringLiteral("StatusBar1_%1").arg(i + 1));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setContentsMargins(2, 0, 2, 0);
    if (i == 0) {
      panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      panel->setMinimumWidth(Tw(1440));
      row->addWidget(panel, 1);
    } else {
      panel->setAlignment(Qt::AlignCenter);
      panel->setFixedWidth(Tw(720));
      row->addWidget(panel);
    }
    panels_[i] = panel;
  }

  lockKeys_ = new LockKeyState(this);
  connect(lockKeys_, &LockKeyState::changed, this, [this] { ShowLockKeys(); });
  ShowLockKeys();
}

// An indicator panel reads normally while its key state is on and greyed while it is off.
void FrmTavrunMain::ShowLockKeys() {
  panels_[1]->setEnabled(lockKeys_->capsLock());
  panels_[2]->setEnabled(lockKeys_->numLock());
  panels_[3]->setEnabled(lockKeys_->insertMode());
}

QString FrmTavrunMain::statusPanelText(int panel) const {
  if (panel < 1 || panel > 4) return {};
  return panels_[panel - 1]->text();
}

void FrmTavrunMain::Form_Load() {
  setWindowTitle(QString::fromStdString(App().WindowTitle));
  text1_->setText(QString::fromStdString(Setting(FromDirectory)));
  text2_->setText(QString::fromStdString(Setting(ToDirectory)));
  const int operation = ToIndex(Setting(ArchiveType));
  if (operation == 0 || operation == 1) SelectOption1(operation);
  // First shown centred on the screen.
  if (QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    const QSize size = frameGeometry().size().expandedTo(this->size());
    move(area.center() - QPoint(size.width() / 2, size.height() / 2));
  }
}

void FrmTavrunMain::Form_QueryUnload(bool& cancel, int unloadMode) {
  if (unloadMode == 0) {
    cancel = true;
    ExitProgram();
  }
}

void FrmTavrunMain::closeEvent(QCloseEvent* event) {
  // Exit was confirmed and waits for the running call to stop: no second question.
  if (RunScope* scope = RunScope::Current(); scope && scope->Exiting()) {
    event->ignore();
    return;
  }
  // Only the window system's close request is the user's; a close by program code or by the
  // end of the session passes without a question.
  bool cancel = false;
  const int mode = event->spontaneous() && !EndingWithoutSaving() ? 0 : 1;
  Form_QueryUnload(cancel, mode);
  if (cancel) {
    event->ignore();
  } else {
    event->accept();
  }
}

void FrmTavrunMain::Deselect(QButtonGroup* group, QRadioButton* button) {
  // An exclusive group never lets its last checked button go.
  group->setExclusive(false);
  button->setChecked(false);
  group->setExclusive(true);
}

void FrmTavrunMain::SelectOption1(int index) {
  if (index < 0 || index > 1) return;
  selecting_ = true;
  option1_[index]->setChecked(true);
  selecting_ = false;
  Option1_Click(index);
}

void FrmTavrunMain::SelectOption2(int index) {
  if (index < 0 || index > 1) return;
  selecting_ = true;
  option2_[index]->setChecked(true);
  selecting_ = false;
  Option2_Click(index);
}

void FrmTavrunMain::Option1_Click(int index) {
  if (index < 0 || index > 1) return;
  Setting(ArchiveType) = std::to_string(index);
  std::string& format = Setting(index == 0 ? CompressType : ExtractType);
  const bool* available = index == 0 ? App().CanCompress : App().CanExtract;

  // The format in use carries over to the new operation.
  for (int f = 0; f < 2; ++f) {
    if (option2_[f]->isChecked()) {
      format = std::to_string(f);
      break;
    }
  }
  for (int f = 0; f < 2; ++f) {
    option2_[f]->setEnabled(true);
    if (!available[f]) {
      Deselect(group2_, option2_[f]);
      option2_[f]->setEnabled(false);
    }
  }
  // Enabled as far as the button itself goes: a locked Frame2 must not hide that.
  auto usable = [this](int f) { return f >= 0 && f < 2 && option2_[f]->isEnabledTo(frame2_); };
  if (!usable(ToIndex(format))) {
    for (int f = 0; f < 2; ++f) {
      if (usable(f)) {
        format = std::to_string(f);
        break;
      }
    }
  }
  const int chosen = ToIndex(format);
  if (usable(chosen)) {
    SelectOption2(chosen);
  } else {
    format = "-1";
  }
}

void FrmTavrunMain::Option2_Click(int index) {
  const std::string& operation = Setting(ArchiveType);
  if (operation == "0") {
    Setting(CompressType) = std::to_string(index);
  } else if (operation == "1") {
    Setting(ExtractType) = std::to_string(index);
  }
}

void FrmTavrunMain::Browse(DirBox* box) {
  const std::string chosen = SelectDirectory(this, box->text().toStdString());
  if (!chosen.empty()) box->setText(QString::fromStdString(chosen));
  box->setFocus(Qt::OtherFocusReason);
  // The focus handler selects the text only when the focus really moves; a box that already
  // had it shows its text selected all the same.
  SelectAllText(box);
}

void FrmTavrunMain::Command1_Click() {
  Browse(text1_);
}
void FrmTavrunMain::Command2_Click() {
  Browse(text2_);
}

void FrmTavrunMain::Command3_Click() {
  // The run scope lives exactly as long as the run; a second click cannot start a run
  // inside this one (the engine refuses it), so its scope is not made either.
  if (RunScope::Current() != nullptr) return;
  auto scope = std::make_unique<RunScope>();
  tavrun::Command3_Click(*this);
}

void FrmTavrunMain::mnuFrom_Click() {
  Command1_Click();
}
void FrmTavrunMain::mnuTo_Click() {
  Command2_Click();
}
void FrmTavrunMain::mnuRun_Click() {
  if (RunScope::Current() != nullptr) return;
  auto scope = std::make_unique<RunScope>();
  tavrun::mnuRun_Click(*this);
}
void FrmTavrunMain::mnuExit_Click() {
  ExitProgram();
}
void FrmTavrunMain::mnuLog_Click() {
  ShowLogCommand();
}
void FrmTavrunMain::mnuClearLog_Click() {
  ClearLogCommand();
}
void FrmTavrunMain::mnuOption_Click() {
  ShowOptionDialog(this);
}
void FrmTavrunMain::mnuReadme_Click() {
  OpenReadmeCommand();
}
void FrmTavrunMain::mnuVersion_Click() {
  ShowVersionDialog();
}

RunInputs FrmTavrunMain::Inputs() const {
  RunInputs inputs;
  inputs.source = text1_->text().toStdString();
  inputs.target = text2_->text().toStdString();
  for (int i = 0; i < 2; ++i) {
    if (inputs.operation < 0 && option1_[i]->isChecked()) inputs.operation = i;
    if (inputs.format < 0 && option2_[i]->isChecked()) inputs.format = i;
  }
  return inputs;
}

QWidget* FrmTavrunMain::ControlByName(const std::string& name) const {
  if (name == "Label1") return label1_;
  if (name == "Label2") return label2_;
  if (name == "Text1") return text1_;
  if (name == "Text2") return text2_;
  if (name == "Command1") return command1_;
  if (name == "Command2") return command2_;
  if (name == "Command3") return command3_;
  if (name == "Frame1") return frame1_;
  if (name == "Frame2") return frame2_;
  if (name == "Option1(0)") return option1_[0];
  if (name == "Option1(1)") return option1_[1];
  return nullptr;
}

void FrmTavrunMain::SetControlEnabled(const std::string& control, bool enabled) {
  QMenu* menu = control == "mnuD"   ? mnuD_
                : control == "mnuT" ? mnuT_
                : control == "mnuH" ? mnuH_
                                    : nullptr;
  if (menu) {
    // The title in the bar and every entry below it.
    menu->menuAction()->setEnabled(enabled);
    menu->setEnabled(enabled);
    return;
  }
  if (QWidget* widget = ControlByName(control)) widget->setEnabled(enabled);
}

void FrmTavrunMain::SetInputsEnabled(bool enabled) {
  // The order the lock list gives; a failing control does not stop the others.
  static constexpr std::array<const char*, 12> kLockList = {
      "mnuD",  "mnuT",     "mnuH",     "Label1",   "Label2", "Text1",
      "Text2", "Command1", "Command2", "Command3", "Frame1", "Frame2"};
  for (const char* control : kLockList) {
    try {
      SetControlEnabled(control, enabled);
    } catch (...) {
    }
  }
}

void FrmTavrunMain::Focus(RunFocus control) {
  const char* name = control == RunFocus::Source     ? "Text1"
                     : control == RunFocus::Target   ? "Text2"
                     : control == RunFocus::Compress ? "Option1(0)"
                                                     : "Option1(1)";
  if (QWidget* widget = ControlByName(name)) widget->setFocus(Qt::OtherFocusReason);
}

void FrmTavrunMain::SetStatusPanelText(const std::string& text) {
  const QString shown = QString::fromStdString(text);
  if (QThread::currentThread() == thread()) {
    panels_[0]->setText(shown);
    return;
  }
  // From the batch's worker: the label is the UI thread's.
  QMetaObject::invokeMethod(
      this, [this, shown] { panels_[0]->setText(shown); }, Qt::QueuedConnection);
}

uintptr_t FrmTavrunMain::NativeHandle() const {
  // The worker must not touch the window system; it gets the id read on the UI thread.
  if (QThread::currentThread() == thread()) handle_.store(static_cast<uintptr_t>(winId()));
  return handle_.load();
}

void FrmTavrunMain::RunBatchWork(const std::function<void()>& batch) {
  RunScope* scope = RunScope::Current();
  NativeHandle();
  if (scope == nullptr) {
    batch();
    return;
  }
  scope->RunBatch(batch);
}

}  // namespace tavrun::ui
