#include "ui/folder_select.h"

#include <QFileDialog>
#include <deque>

namespace tavrun::ui {
namespace {

std::deque<std::string> queuedAnswers;
std::function<std::string(QWidget*)> chooserHandler;
int chooserCalls = 0;

std::string QtChooseDirectory(QWidget* owner) {
  const QString chosen =
      QFileDialog::getExistingDirectory(owner, QString::fromUtf8(kSelectDirectoryPrompt),
                                        QStringLiteral("/"), QFileDialog::ShowDirsOnly);
  return chosen.toStdString();
}

}  // namespace

std::string SelectDirectory(QWidget* owner) {
  ++chooserCalls;
  try {
    if (!queuedAnswers.empty()) {
      std::string answer = queuedAnswers.front();
      queuedAnswers.pop_front();
      return answer;
    }
    if (chooserHandler) return chooserHandler(owner);
    return QtChooseDirectory(owner);
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
}

int FolderChooserCalls() {
  return chooserCalls;
}

}  // namespace tavrun::ui
