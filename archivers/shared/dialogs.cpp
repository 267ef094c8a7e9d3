#include "dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QWidget>

namespace tavrun::arc {

namespace {

QWidget* OwnerWidget(uintptr_t window) {
  if (window == 0) return nullptr;
  // Only a GUI application in this process can own a dialog; a bare core application
  // or none at all (a batch caller) means nobody can be asked.
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return nullptr;
  return QWidget::find(static_cast<WId>(window));
}

// Window-less feedback: counts, never cancels, never blocks.
class CountingProgress : public Progress {
 public:
  bool Update(const std::string&, int) override { return true; }
  bool Cancelled() const override { return false; }
};

class DialogProgress : public Progress {
 public:
  DialogProgress(QWidget* owner, const std::string& title)
      : dialog_(owner) {
    dialog_.setWindowTitle(QString::fromStdString(title));
    dialog_.setWindowModality(Qt::WindowModal);
    dialog_.setCancelButtonText(QStringLiteral("キャンセル"));
    dialog_.setRange(0, 100);
    dialog_.setMinimumDuration(0);
    dialog_.setAutoClose(false);
    dialog_.setAutoReset(false);
    dialog_.setMinimumWidth(360);
    dialog_.setValue(0);
    dialog_.show();
    QCoreApplication::processEvents();
  }
  bool Update(const std::string& memberName, int percent) override {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    QString label = QString::fromStdString(memberName);
    if (label != lastLabel_) {
      dialog_.setLabelText(label);
      lastLabel_ = label;
    }
    if (percent != dialog_.value()) dialog_.setValue(percent);
    QCoreApplication::processEvents();
    return !dialog_.wasCanceled();
  }
  bool Cancelled() const override { return dialog_.wasCanceled(); }

 private:
  QProgressDialog dialog_;
  QString lastLabel_;
};

}  // namespace

bool HasOwnerWindow(uintptr_t window) { return OwnerWidget(window) != nullptr; }

std::unique_ptr<Progress> MakeProgress(uintptr_t window, bool show, const std::string& title) {
  QWidget* owner = show ? OwnerWidget(window) : nullptr;
  if (owner == nullptr) return std::make_unique<CountingProgress>();
  return std::make_unique<DialogProgress>(owner, title);
}

OverwriteAnswer AskOverwrite(uintptr_t window, const std::string& title,
                             const std::string& question, const std::string& path) {
  QWidget* owner = OwnerWidget(window);
  if (owner == nullptr) return OverwriteAnswer::No;
  QMessageBox box(owner);
  box.setIcon(QMessageBox::Question);
  box.setWindowTitle(QString::fromStdString(title));
  box.setText(QString::fromStdString(question));
  box.setInformativeText(QString::fromStdString(path));
  QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
  QPushButton* yesAll = box.addButton(QStringLiteral("すべてはい(&A)"), QMessageBox::YesRole);
  QPushButton* noAll = box.addButton(QStringLiteral("すべていいえ(&L)"), QMessageBox::NoRole);
  yes->setObjectName(QStringLiteral("yes"));
  no->setObjectName(QStringLiteral("no"));
  yesAll->setObjectName(QStringLiteral("yesToAll"));
  noAll->setObjectName(QStringLiteral("noToAll"));
  box.setDefaultButton(no);  // replacing a file is never the default
  box.setEscapeButton(no);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  if (clicked == yes) return OverwriteAnswer::Yes;
  if (clicked == yesAll) return OverwriteAnswer::YesToAll;
  if (clicked == noAll) return OverwriteAnswer::NoToAll;
  return OverwriteAnswer::No;
}

}  // namespace tavrun::arc
