#include "password_dialog.h"

#include <string.h>

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

#include "host.h"

namespace tavrun::arc {

namespace {

bool IsGuiApplication() {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

// Runs `work` on the UI thread and returns its result; a worker thread waits for it. Only a
// GUI application gets here: its UI thread processes events while a run's worker calls us.
template <typename F>
auto OnUiThread(F work) -> decltype(work()) {
  QCoreApplication* app = QCoreApplication::instance();
  if (QThread::currentThread() == app->thread()) return work();
  decltype(work()) result{};
  QMetaObject::invokeMethod(
      app, [&] { result = work(); }, Qt::BlockingQueuedConnection);
  return result;
}

QWidget* OwnerWidget(uintptr_t window) {
  return window == 0 ? nullptr : QWidget::find(static_cast<WId>(window));
}

class PasswordDialog : public QDialog {
 public:
  static constexpr int kStopCode = 2;

  PasswordDialog(QWidget* owner, const std::string& title, const std::string& archiveName,
                 bool retry)
      : QDialog(owner) {
    setObjectName(QStringLiteral("passwordDialog"));
    setWindowTitle(QString::fromStdString(title));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QLabel(QStringLiteral("次の書庫はパスワードで保護されています。"), this);
    auto* name = new QLabel(QString::fromStdString(archiveName), this);
    name->setObjectName(QStringLiteral("archiveName"));
    name->setTextFormat(Qt::PlainText);  // a name is never markup
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    auto* wrong =
        new QLabel(QStringLiteral("パスワードが違います。もう一度入力してください。"), this);
    wrong->setObjectName(QStringLiteral("wrongPassword"));
    wrong->setStyleSheet(QStringLiteral("color: #c00000;"));
    wrong->setVisible(retry);
    auto* label = new QLabel(QStringLiteral("パスワード(&P):"), this);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("password"));
    edit_->setEchoMode(QLineEdit::Password);
    // Japanese passwords are typed through the input method, which password mode turns off.
    edit_->setAttribute(Qt::WA_InputMethodEnabled, true);
    edit_->setMinimumWidth(280);
    label->setBuddy(edit_);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    ok->setEnabled(false);  // an empty password opens nothing
    auto* skip = new QPushButton(QStringLiteral("この書庫をスキップ"), this);
    skip->setObjectName(QStringLiteral("skip"));
    // Stops the whole run, as Cancel on a progress dialog does; Esc and the close box still
    // skip only this archive, the answer a user reaching for Esc expects.
    auto* stop = new QPushButton(QStringLiteral("処理を中止"), this);
    stop->setObjectName(QStringLiteral("stop"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(skip);
    buttons->addWidget(stop);
    layout->addWidget(prompt);
    layout->addWidget(name);
    layout->addWidget(wrong);
    layout->addWidget(label);
    layout->addWidget(edit_);
    layout->addLayout(buttons);
    connect(edit_, &QLineEdit::textChanged, ok,
            [ok](const QString& text) { ok->setEnabled(!text.isEmpty()); });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(skip, &QPushButton::clicked, this, &QDialog::reject);
    connect(stop, &QPushButton::clicked, this, [this] { done(kStopCode); });
    edit_->setFocus();
  }
  ~PasswordDialog() override { edit_->clear(); }

  std::string TakePassword() {
    std::string typed = edit_->text().toStdString();
    edit_->clear();
    return typed;
  }

 private:
  QLineEdit* edit_;
};

}  // namespace

void WipeSecret(std::string& secret) {
  explicit_bzero(secret.data(), secret.size());
  secret.clear();
}

PasswordAnswer AskPassword(uintptr_t window, const std::string& title,
                           const std::string& archiveName, bool retry, std::string& password) {
  // A run the user stopped asks nothing more, whoever calls next.
  if (HostCancelRequested()) return PasswordAnswer::Stopped;
  // The host's own source first (a password file, a terminal prompt).
  switch (HostAskPassword(archiveName, retry, password)) {
    case TAVRUN_PASSWORD_GIVEN: return PasswordAnswer::Entered;
    case TAVRUN_PASSWORD_SKIP: return PasswordAnswer::Skipped;
    case TAVRUN_PASSWORD_STOP: HostRequestCancel(); return PasswordAnswer::Stopped;
    default: break;
  }
  // A batch caller (no window, or no GUI at all) is never made to wait for the UI thread.
  if (window == 0 || !IsGuiApplication()) return PasswordAnswer::NobodyToAsk;
  const PasswordAnswer answer = OnUiThread([&]() -> PasswordAnswer {
    QWidget* owner = OwnerWidget(window);
    if (owner == nullptr) return PasswordAnswer::NobodyToAsk;
    // The owner may close while the dialog runs its loop; the pointer notices.
    QPointer<PasswordDialog> dialog = new PasswordDialog(owner, title, archiveName, retry);
    const int result = dialog->exec();
    if (dialog.isNull()) return PasswordAnswer::Skipped;
    const bool accepted = result == QDialog::Accepted;
    if (accepted) password = dialog->TakePassword();
    delete dialog.data();
    if (result == PasswordDialog::kStopCode) return PasswordAnswer::Stopped;
    return accepted && !password.empty() ? PasswordAnswer::Entered : PasswordAnswer::Skipped;
  });
  if (answer == PasswordAnswer::Stopped) HostRequestCancel();
  return answer;
}

std::string RecallRunPassword() {
  std::string password;
  HostRecallPassword(password);
  return password;
}

void RememberRunPassword(const std::string& password) {
  HostRememberPassword(password);
}

}  // namespace tavrun::arc
