#include "ui_fixture.h"

#include <stdlib.h>

#include <QApplication>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/runtime.h"
#include "app/settings.h"
#include "ui/folder_select.h"
#include "ui/startup.h"

namespace tavrun::uitest {

std::string MakeScratchDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavrun-ui-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return "";
  return pattern;
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  if (path.empty()) return;
  // Read-only leftovers must not keep the tree alive.
  for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path, ec);
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

void UiTest::SetUp() {
  dir_ = MakeScratchDirectory();
  ASSERT_FALSE(dir_.empty());
  ini_ = dir_ + "/Tavrun.ini";
  ClearMessageAnswers();
  ClearMessageHistory();
  SetMousePointer(PointerDefault);
  SetShellOpenHandler(nullptr);
  ui::ClearFolderChooserSeam();
  // The real chooser would wait for a user.
  ui::SetFolderChooserHandler([](QWidget*) {
    ADD_FAILURE() << "unexpected folder chooser";
    return std::string();
  });
  SetMessageBoxHandler([this](const std::string& prompt, int32_t style, const std::string& title) {
    MessageRecord box{prompt, style, title, 0};
    if (script_.empty()) {
      ADD_FAILURE() << "unexpected message box: " << prompt;
      return 0;
    }
    BoxScript next = std::move(script_.front());
    script_.pop_front();
    return next(box);
  });
  ui::SetProcessEndHandler([this] { ++processEnds_; });
}

void UiTest::TearDown() {
  window_.reset();
  ui::SetMainWindow(nullptr);
  EXPECT_TRUE(script_.empty()) << script_.size() << " scripted message boxes were not shown";
  SetMessageBoxHandler(nullptr);
  SetShellOpenHandler(nullptr);
  SetSysDirForTesting("");
  ui::ClearFolderChooserSeam();
  ui::SetProcessEndHandler(nullptr);
  SetMousePointer(PointerDefault);
  RemoveTree(dir_);
}

void UiTest::Init(const std::string& ini, Libraries libraries) {
  if (!ini.empty()) WriteFile(ini_, ini);
  std::string errorText;
  ASSERT_TRUE(InitAppIn(dir_, errorText)) << errorText;
  App().CanCompress[0] = libraries.lzh;
  App().CanExtract[0] = libraries.lzh;
  App().CanCompress[1] = libraries.zipCreate;
  App().CanExtract[1] = libraries.zipExtract;
}

ui::FrmTavrunMain* UiTest::OpenMain() {
  window_ = std::make_unique<ui::FrmTavrunMain>();
  window_->Form_Load();
  window_->show();
  QApplication::setActiveWindow(window_.get());
  EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  return window_.get();
}

void UiTest::Script(std::vector<BoxScript> boxes) {
  for (BoxScript& box : boxes) script_.push_back(std::move(box));
}

BoxScript UiTest::Answer(int32_t answer) {
  return [answer](const MessageRecord&) { return answer; };
}

std::vector<MessageRecord> UiTest::Messages() const {
  return MessageHistory();
}

QWidget* UiTest::FocusedWidget() const {
  return QApplication::focusWidget();
}

std::string UiTest::FocusedName() const {
  QWidget* widget = FocusedWidget();
  return widget ? widget->objectName().toStdString() : std::string("(none)");
}

}  // namespace tavrun::uitest
