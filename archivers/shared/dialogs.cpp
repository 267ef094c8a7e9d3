#include "dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QVariant>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "host.h"

namespace tavrun::arc {

namespace {

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

bool RunCancelled() {
  return HostCancelRequested();
}

// Only a GUI application in this process can own a dialog; a bare core application, none at
// all (a batch caller) or window 0 means nobody can be asked.
QWidget* FindOwner(uintptr_t window) {
  QWidget* owner = nullptr;
  if (window == 0 || !HaveGuiApplication()) return owner;
  OnUi([&] { owner = OwnerWidgetHere(window); });
  return owner;
}

// Window-less feedback: counts, and stops only when the run is cancelled.
class CountingProgress : public Progress {
 public:
  bool Update(const std::string&, int) override { return !Cancelled(); }
  bool Cancelled() const override { return RunCancelled(); }
};

// The dialog lives on the UI thread and appears only for a call that lasts: a batch of small
// files flashes no window per file. Updates from a worker are posted there, at most one at a
// time, and show the latest state; the worker never waits for them, and learns of a cancel
// through an atomic flag.
class DialogProgress : public Progress {
 public:
  DialogProgress(QWidget* owner, const std::string& title)
      : owner_(owner),
        title_(QString::fromStdString(title)),
        start_(std::chrono::steady_clock::now()),
        showAfter_(ShowAfter()) {}
  ~DialogProgress() override {
    if (created_) OnUi([this] { delete dialog_.data(); });
  }
  bool Update(const std::string& memberName, int percent) override {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    if (!created_) {
      if (std::chrono::steady_clock::now() - start_ < showAfter_) return !Cancelled();
      created_ = true;
      OnUi([&] { Create(); });
    }
    if (OnUiThread()) {
      Show(QString::fromStdString(memberName), percent);
      QCoreApplication::processEvents();
      if (!dialog_.isNull() && dialog_->wasCanceled()) userCancelled_.store(true);
    } else {
      std::lock_guard<std::mutex> lock(mutex_);
      latestLabel_ = memberName;
      latestPercent_ = percent;
      if (!posted_ && !dialog_.isNull()) {
        posted_ = true;
        QMetaObject::invokeMethod(
            dialog_.data(), [this] { ShowLatest(); }, Qt::QueuedConnection);
      }
    }
    return !Cancelled();
  }
  bool Cancelled() const override {
    if (created_ && OnUiThread() && !dialog_.isNull() && dialog_->wasCanceled()) return true;
    return userCancelled_.load() || RunCancelled();
  }

 private:
  // Half a second; TAVRUN_PROGRESS_DELAY_MS changes it (tests of the dialog itself use 0).
  static std::chrono::milliseconds ShowAfter() {
    const char* text = std::getenv("TAVRUN_PROGRESS_DELAY_MS");
    if (text == nullptr || *text < '0' || *text > '9') return std::chrono::milliseconds(500);
    return std::chrono::milliseconds(std::strtol(text, nullptr, 10));
  }

  void Create() {
    // The owner may have gone meanwhile (the window closed at exit): then nothing is shown.
    if (owner_.isNull()) return;
    auto* dialog = new QProgressDialog(owner_.data());
    dialog->setWindowTitle(title_);
    // Not modal: the owner's inputs are locked by its run anyway, and a modal dialog would
    // swallow the owner's close box for as long as a large file takes.
    dialog->setWindowModality(Qt::NonModal);
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
    // No processEvents here: a worker waits for this to return, and an event handled now
    // (the owner's close box, whose exit waits for that worker) would never let it.
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

  QPointer<QWidget> owner_;
  QString title_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::milliseconds showAfter_;
  bool created_ = false;  // the calling thread's: whether the dialog was asked for
  QPointer<QProgressDialog> dialog_;
  QString shownLabel_;  // UI thread
  std::atomic<bool> userCancelled_{false};
  std::mutex mutex_;
  std::string latestLabel_;
  int latestPercent_ = 0;
  bool posted_ = false;
};

// A "to all" answer is kept by the host for its run, so it holds for every later call of
// the run; without a host it lasts one call.
std::string AnswerKey(const std::string& title, const std::string& question) {
  return "answer:" + title + '\n' + question;
}

bool RememberedAnswer(const std::string& key, OverwriteAnswer& answer) {
  switch (HostRecallAnswer(key)) {
    case TAVRUN_ANSWER_YES_TO_ALL: answer = OverwriteAnswer::YesToAll; return true;
    case TAVRUN_ANSWER_NO_TO_ALL: answer = OverwriteAnswer::NoToAll; return true;
    default: return false;
  }
}

void RememberAnswer(const std::string& key, OverwriteAnswer answer) {
  if (answer == OverwriteAnswer::YesToAll) HostRememberAnswer(key, TAVRUN_ANSWER_YES_TO_ALL);
  if (answer == OverwriteAnswer::NoToAll) HostRememberAnswer(key, TAVRUN_ANSWER_NO_TO_ALL);
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
  return FindOwner(window) != nullptr;
}

std::unique_ptr<Progress> MakeProgress(uintptr_t window, bool show, const std::string& title) {
  // A run already being cancelled opens no dialog that would only flash.
  QWidget* owner = show && !RunCancelled() ? FindOwner(window) : nullptr;
  if (owner == nullptr) return std::make_unique<CountingProgress>();
  return std::make_unique<DialogProgress>(owner, title);
}

OverwriteAnswer AskOverwrite(uintptr_t window, const std::string& title,
                             const std::string& question, const std::string& path) {
  OverwriteAnswer answer = OverwriteAnswer::No;
  if (window == 0 || !HaveGuiApplication()) return answer;
  OnUi([&] {
    QWidget* owner = OwnerWidgetHere(window);
    if (owner == nullptr) return;
    // The user asked to stop: keep what is there and ask nothing more.
    if (RunCancelled()) return;
    const std::string key = AnswerKey(title, question);
    if (RememberedAnswer(key, answer)) return;
    answer = AskHere(owner, title, question, path);
    RememberAnswer(key, answer);
  });
  return answer;
}

}  // namespace tavrun::arc
