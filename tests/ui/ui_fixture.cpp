#include "ui_fixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>

#include "app/runtime.h"
#include "app/settings.h"
#include "ui/folder_select.h"
#include "ui/fonts.h"
#include "ui/startup.h"

namespace tavrun::uitest {

BoxScript Expect(const std::string& prompt, int32_t style, int32_t answer) {
  return [=](const MessageRecord& box) {
    EXPECT_EQ(box.prompt, prompt);
    EXPECT_EQ(box.style, style);
    EXPECT_EQ(box.title, "Tavrun");
    return answer;
  };
}

void UiTest::SetUp() {
  ClearMessageHistory();
  ui::ClearFolderChooserSeam();
  ui::SetFolderChooserHandler([](QWidget*) {  // the real chooser would wait for a user
    ADD_FAILURE() << "unexpected folder chooser";
    return std::string();
  });
  SetMessageBoxHandler([this](const std::string& prompt, int32_t style, const std::string& title) {
    if (script_.empty()) {
      ADD_FAILURE() << "unexpected message box: " << prompt;
      return 0;
    }
    BoxScript next = std::move(script_.front());
    script_.pop_front();
    return next(MessageRecord{prompt, style, title, 0, CurrentMessageDetails()});
  });
  ui::SetProcessEndHandler([this] { ++processEnds_; });
}

void UiTest::TearDown() {
  window_.reset();
  EXPECT_TRUE(script_.empty()) << script_.size() << " scripted message boxes were not shown";
  SetMessageBoxHandler(nullptr);
  SetShellOpenHandler(nullptr);
  SetSysDirForTesting("");
  ui::ClearFolderChooserSeam();
  ui::SetProcessEndHandler(nullptr);
  SetMousePointer(PointerDefault);
}

void UiTest::Init(const std::string& ini, Libraries libraries) {
  if (!ini.empty()) WriteBytes(ini_, ini);
  std::string errorText;
  ASSERT_TRUE(InitAppIn(dir_, errorText)) << errorText;
  App().CanCompress[0] = App().CanExtract[0] = libraries.lzh;
  App().CanCompress[1] = libraries.zipCreate;
  App().CanExtract[1] = libraries.zipExtract;
}

void UiTest::OpenMain() {
  window_ = std::make_unique<ui::FrmTavrunMain>();
  window_->Form_Load();
  window_->show();
  QApplication::setActiveWindow(window_.get());
  EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
}

void UiTest::Trigger(const char* action) const {
  Find<QAction>(action)->trigger();
}

void UiTest::Click(const char* button) const {
  auto* b = Find<QAbstractButton>(button);
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

bool UiTest::Drop(const char* box, const QList<QUrl>& urls, const QString& text) const {
  QMimeData data;
  if (!urls.isEmpty()) data.setUrls(urls);
  if (!text.isEmpty()) data.setText(text);
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
  QCoreApplication::sendEvent(Find(box), &enter);
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
  QCoreApplication::sendEvent(Find(box), &drop);
  return enter.isAccepted();
}

std::string UiTest::FocusedName() {
  QWidget* widget = QApplication::focusWidget();
  return widget ? widget->objectName().toStdString() : "(none)";
}

}  // namespace tavrun::uitest

// One QApplication for all, offscreen unless told otherwise; windows come and go in every
// test and none may end it.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The libraries' progress dialogs show from the first update, so a test can use them.
  setenv("TAVRUN_PROGRESS_DELAY_MS", "0", 1);
  QApplication app(argc, argv);
  tavrun::ui::ApplyProgramLook();
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
