#include "dialogs.h"

#include <dlfcn.h>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QVariant>
#include <QWidget>
#include <atomic>
#include <mutex>
#include <utility>

namespace tavrun::arc {

namespace {

// What the application's run scope offers the libraries (see dialogs.h).
constexpr const char* kRunScopeName = "tavrunRunScope";
constexpr const char* kCancelFlagProperty = "tavrunCancelFlag";
constexpr const char* kAnswersName = "tavrunOverwriteAnswers";

bool HaveGuiApplication() {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

bool OnUiThread() {
  return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Widgets live on the UI thread only: a worker asks it and waits for the answer.
template <typename Work>
void OnUi(Work&& work) {
  if (OnUiThread()) {
    work();
  } else {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<Work>(work),
                              Qt::BlockingQueuedConnection);
  }
}

// UI thread only.
QWidget* OwnerWidgetHere(uintptr_t window) {
  return QWidget::find(static_cast<WId>(window));
}

QObject* RunScope() {
  return QCoreApplication::instance()->findChild<QObject*>(QString::fromLatin1(kRunScopeName),
                                                           Qt::FindDirectChildrenOnly);
}

const std::atomic<bool>* CancelFlag(QObject* scope) {
  if (scope == nullptr) return nullptr;
  bool ok = false;
  const qulonglong address = scope->property(kCancelFlagProperty).toULongLong(&ok);
  if (!ok || address == 0) return nullptr;
  return reinterpret_cast<const std::atomic<bool>*>(static_cast<uintptr_t>(address));
}

// A program without windows (the command-line runner) cancels the running calls through a
// flag it exports under this name; no new entry point of the libraries is needed for it.
const std::atomic<bool>* HostCancelFlag() {
  static const auto* flag =
      static_cast<const std::atomic<bool>*>(dlsym(RTLD_DEFAULT, "tavrun_cancel_requested"));
  return flag;
}

bool RunCancelled(const std::atomic<bool>* flag) {
  return flag != nullptr && flag->load();
}

// Only a GUI application in this process can own a dialog; a bare core application, none at
// all (a batch caller) or window 0 means nobody can be asked.
struct Owner {
  QWidget* widget = nullptr;
  const std::atomic<bool>* cancel = nullptr;
};
Owner FindOwner(uintptr_t window) {
  Owner owner;
  if (window == 0 || !HaveGuiApplication()) {
    owner.cancel = HostCancelFlag();
    return owner;
  }
  OnUi([&] {
    owner.widget = OwnerWidgetHere(window);
    if (owner.widget != nullptr) owner.cancel = CancelFlag(RunScope());
  });
  return owner;
}

// Window-less feedback: counts, and stops only when the run is cancelled.
class CountingProgress : public Progress {
 public:
  explicit CountingProgress(const std::atomic<bool>* runCancel) : runCancel_(runCancel) {}
  bool Update(const std::string&, int) override { return !Cancelled(); }
  bool Cancelled() const override { return RunCancelled(runCancel_); }

 private:
  const std::atomic<bool>* runCancel_;
};

// The dialog lives on the UI thread. Updates from a worker are posted there, at most one at
// a time, and show the latest state; the worker never waits for them, and learns of a cancel
// through an atomic flag.
class DialogProgress : public Progress {
 public:
  DialogProgress(QWidget* owner, const std::string& title, const std::atomic<bool>* runCancel)
      : runCancel_(runCancel) {
    OnUi([&] { Create(owner, QString::fromStdString(title)); });
  }
  ~DialogProgress() override {
    OnUi([this] { delete dialog_.data(); });
  }
  bool Update(const std::string& memberName, int percent) override {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    if (OnUiThread()) {
      Show(QString::fromStdString(memberName), percent);
      QCoreApplication::processEvents();
      if (!dialog_.isNull() && dialog_->wasCanceled()) userCancelled_.store(true);
    } else {
      std::lock_guard<std::mutex> lock(mutex_);
      latestLabel_ = memberName;
      latestPercent_ = percent;
      if (!posted_) {
        posted_ = true;
        QMetaObject::invokeMethod(
            dialog_.data(), [this] { ShowLatest(); }, Qt::QueuedConnection);
      }
    }
    return !Cancelled();
  }
  bool Cancelled() const override {
    if (OnUiThread() && !dialog_.isNull() && dialog_->wasCanceled()) return true;
    return userCancelled_.load() || RunCancelled(runCancel_);
  }

 private:
  void Create(QWidget* owner, const QString& title) {
    auto* dialog = new QProgressDialog(owner);
    dialog->setWindowTitle(title);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setCancelButtonText(QStringLiteral("キャンセル"));
    dialog->setRange(0, 100);
    dialog->setMinimumDuration(0);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumWidth(360);
    dialog->setValue(0);
    QObject::connect(dialog, &QProgressDialog::canceled, dialog,
                     [this] { userCancelled_.store(true); });
    dialog->show();
    dialog_ = dialog;
    QCoreApplication::processEvents();
  }
  void ShowLatest() {
    std::string label;
    int percent = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      label = latestLabel_;
      percent = latestPercent_;
      posted_ = false;
    }
    Show(QString::fromStdString(label), percent);
  }
  // UI thread. Also notes a cancel that came without the canceled signal (cancel() called).
  void Show(const QString& label, int percent) {
    if (dialog_.isNull()) return;
    if (dialog_->wasCanceled()) userCancelled_.store(true);
    if (label != shownLabel_) {
      dialog_->setLabelText(label);
      shownLabel_ = label;
    }
    if (percent != dialog_->value()) dialog_->setValue(percent);
  }

  QPointer<QProgressDialog> dialog_;
  QString shownLabel_;  // UI thread
  const std::atomic<bool>* runCancel_;
  std::atomic<bool> userCancelled_{false};
  std::mutex mutex_;
  std::string latestLabel_;
  int latestPercent_ = 0;
  bool posted_ = false;
};

// A "to all" answer is kept in the run scope, so it holds for every later call of the run.
QByteArray AnswerKey(const std::string& title, const std::string& question) {
  return QByteArray("answer:") + QByteArray::fromStdString(title) + '\n' +
         QByteArray::fromStdString(question);
}

bool RememberedAnswer(const QByteArray& key, OverwriteAnswer& answer) {
  QObject* scope = RunScope();
  QObject* answers =
      scope ? scope->findChild<QObject*>(QString::fromLatin1(kAnswersName)) : nullptr;
  if (answers == nullptr) return false;
  const QVariant kept = answers->property(key.constData());
  if (!kept.isValid()) return false;
  answer = static_cast<OverwriteAnswer>(kept.toInt());
  return true;
}

void RememberAnswer(const QByteArray& key, OverwriteAnswer answer) {
  if (answer != OverwriteAnswer::YesToAll && answer != OverwriteAnswer::NoToAll) return;
  QObject* scope = RunScope();
  if (scope == nullptr) return;
  QObject* answers = scope->findChild<QObject*>(QString::fromLatin1(kAnswersName));
  if (answers == nullptr) {
    answers = new QObject(scope);
    answers->setObjectName(QString::fromLatin1(kAnswersName));
  }
  answers->setProperty(key.constData(), static_cast<int>(answer));
}

OverwriteAnswer AskHere(QWidget* owner, const std::string& title, const std::string& question,
                        const std::string& path) {
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

}  // namespace

bool HasOwnerWindow(uintptr_t window) {
  return FindOwner(window).widget != nullptr;
}

std::unique_ptr<Progress> MakeProgress(uintptr_t window, bool show, const std::string& title) {
  const Owner owner = FindOwner(window);
  // A run already being cancelled opens no dialog that would only flash.
  if (!show || owner.widget == nullptr || RunCancelled(owner.cancel)) {
    return std::make_unique<CountingProgress>(owner.cancel);
  }
  return std::make_unique<DialogProgress>(owner.widget, title, owner.cancel);
}

OverwriteAnswer AskOverwrite(uintptr_t window, const std::string& title,
                             const std::string& question, const std::string& path) {
  OverwriteAnswer answer = OverwriteAnswer::No;
  if (window == 0 || !HaveGuiApplication()) return answer;
  OnUi([&] {
    QWidget* owner = OwnerWidgetHere(window);
    if (owner == nullptr) return;
    QObject* scope = RunScope();
    // The user asked to stop: keep what is there and ask nothing more.
    if (RunCancelled(CancelFlag(scope))) return;
    const QByteArray key = AnswerKey(title, question);
    if (RememberedAnswer(key, answer)) return;
    answer = AskHere(owner, title, question, path);
    RememberAnswer(key, answer);
  });
  return answer;
}

}  // namespace tavrun::arc
