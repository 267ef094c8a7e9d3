#include "ui/folder_select.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTreeView>
#include <deque>
#include <filesystem>
#include <system_error>

namespace tavrun::ui {
namespace {

// The columns of the chooser's detail view.
constexpr int kSizeColumn = 1;
constexpr int kTypeColumn = 2;
constexpr int kDateColumn = 3;

std::deque<std::string> queuedAnswers;
std::function<std::string(QWidget*)> chooserHandler;
int chooserCalls = 0;
std::string lastStartFolder;

// Qt's own chooser, so its texts come from the Japanese translation loaded at start-up.
// Only folders are listed: the type column would say "Folder" on every row and the size
// column is empty, so only the name and the date show, the date wide enough to be read.
std::string QtChooseDirectory(QWidget* owner, const std::string& startFolder) {
  QFileDialog dialog(owner, QString::fromUtf8(kSelectDirectoryPrompt),
                     QString::fromStdString(startFolder));
  dialog.setObjectName(QStringLiteral("folderChooser"));
  dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setViewMode(QFileDialog::Detail);
  FitFolderColumns(dialog);
  if (dialog.exec() != QDialog::Accepted) return "";
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? std::string() : chosen.front().toStdString();
}

}  // namespace

void FitFolderColumns(QFileDialog& dialog) {
  auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  if (view == nullptr) return;
  view->setColumnHidden(kSizeColumn, true);
  view->setColumnHidden(kTypeColumn, true);
  QHeaderView* header = view->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  header->setSectionResizeMode(kDateColumn, QHeaderView::ResizeToContents);
  // The dates arrive after the names, from the model's own thread: measure them again then.
  if (auto* model = dialog.findChild<QFileSystemModel*>()) {
    QObject::connect(model, &QFileSystemModel::directoryLoaded, view,
                     [view] { view->resizeColumnToContents(kDateColumn); });
  }
}

std::string ChooserStartFolder(const std::string& current) {
  namespace fs = std::filesystem;
  fs::path folder = fs::path(current).lexically_normal();
  if (!folder.is_absolute()) return "/";
  std::error_code error;
  // A moved or unplugged folder still opens the chooser near where it was.
  while (folder.has_relative_path() && !fs::is_directory(folder, error)) {
    folder = folder.has_filename() ? folder.parent_path() : folder.parent_path().parent_path();
  }
  std::string text = folder.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string SelectDirectory(QWidget* owner, const std::string& current) {
  ++chooserCalls;
  try {
    lastStartFolder = ChooserStartFolder(current);
    if (!queuedAnswers.empty()) {
      std::string answer = queuedAnswers.front();
      queuedAnswers.pop_front();
      return answer;
    }
    if (chooserHandler) return chooserHandler(owner);
    return QtChooseDirectory(owner, lastStartFolder);
  } catch (...) {
    return "";
  }
}

void SetNextDirectory(const std::string& answer) {
  queuedAnswers.push_back(answer);
}

void SetFolderChooserHandler(std::function<std::string(QWidget* owner)> handler) {
  chooserHandler = std::move(handler);
}

void ClearFolderChooserSeam() {
  queuedAnswers.clear();
  chooserHandler = nullptr;
  chooserCalls = 0;
  lastStartFolder.clear();
}

int FolderChooserCalls() {
  return chooserCalls;
}

std::string LastChooserStartFolder() {
  return lastStartFolder;
}

}  // namespace tavrun::ui
