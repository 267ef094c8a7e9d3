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

namespace tavrun::arc {

namespace {

const char kScopeName[] = "tavrunRunScope";
const char kMemoryName[] = "tavrunZipPassword";

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

// Holds the run's password as a child of the run scope, so it goes when the run ends.
class RunPassword : public QObject {
 public:
  explicit RunPassword(QObject* scope) : QObject(scope) {
    setObjectName(QString::fromLatin1(kMemoryName));
  }
  ~RunPassword() override { WipeSecret(password); }
  std::string password;
};

// Only the UI thread touches the scope's children.
RunPassword* Memory(bool create) {
  auto* scope = QCoreApplication::instance()->findChild<QObject*>(QString::fromLatin1(kScopeName),
                                                                  Qt::FindDirectChildrenOnly);
  if (scope == nullptr) return nullptr;
  auto* found =
      scope->findChild<QObject*>(QString::fromLatin1(kMemoryName), Qt::FindDirectChildrenOnly);
  if (auto* memory = dynamic_cast<RunPassword*>(found)) return memory;
  return create ? new RunPassword(scope) : nullptr;
}

class PasswordDialog : public QDialog {
 public:
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
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(skip);
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
  // A batch caller (no window, or no GUI at all) is never made to wait for the UI thread.
  if (window == 0 || !IsGuiApplication()) return PasswordAnswer::NobodyToAsk;
  return OnUiThread([&]() -> PasswordAnswer {
    QWidget* owner = OwnerWidget(window);
    if (owner == nullptr) return PasswordAnswer::NobodyToAsk;
    // The owner may close while the dialog runs its loop; the pointer notices.
    QPointer<PasswordDialog> dialog = new PasswordDialog(owner, title, archiveName, retry);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (dialog.isNull()) return PasswordAnswer::Skipped;
    if (accepted) password = dialog->TakePassword();
    delete dialog.data();
    return accepted && !password.empty() ? PasswordAnswer::Entered : PasswordAnswer::Skipped;
  });
}

std::string RecallRunPassword() {
  if (!IsGuiApplication()) return std::string();  // runs with a scope are GUI runs
  return OnUiThread([]() -> std::string {
    RunPassword* memory = Memory(false);
    return memory ? memory->password : std::string();
  });
}

void RememberRunPassword(const std::string& password) {
  if (!IsGuiApplication()) return;
  OnUiThread([&]() -> bool {
    if (RunPassword* memory = Memory(true)) {
      WipeSecret(memory->password);
      memory->password = password;
    }
    return true;
  });
}

}  // namespace tavrun::arc
