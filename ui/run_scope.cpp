#include "ui/run_scope.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QVariant>
#include <exception>
#include <thread>

namespace tavrun::ui {
namespace {

constexpr const char* kScopeName = "tavrunRunScope";
constexpr const char* kCancelFlagProperty = "tavrunCancelFlag";

}  // namespace

RunScope::RunScope() : QObject(QCoreApplication::instance()) {
  setObjectName(QString::fromLatin1(kScopeName));
  setProperty(kCancelFlagProperty,
              QVariant::fromValue(static_cast<qulonglong>(reinterpret_cast<uintptr_t>(&cancel_))));
}

RunScope::~RunScope() = default;

RunScope* RunScope::Current() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return nullptr;
  return dynamic_cast<RunScope*>(
      app->findChild<QObject*>(QString::fromLatin1(kScopeName), Qt::FindDirectChildrenOnly));
}

void RunScope::RunCall(const std::function<void()>& call) {
  std::exception_ptr failure;
  QEventLoop loop;
  waiting_.push_back(&loop);
  callActive_ = true;
  std::thread worker([this, &call, &failure] {
    try {
      call();
    } catch (...) {
      failure = std::current_exception();
    }
    // Queued: the loop below (or an exit waiting above it) learns it on the UI thread.
    QMetaObject::invokeMethod(
        this, [this] { CallFinished(); }, Qt::QueuedConnection);
  });
  // Input stays with the window (its controls are locked); repaints, moves and the close box
  // go on.
  while (callActive_) loop.exec();
  worker.join();
  std::erase(waiting_, &loop);
  if (failure) std::rethrow_exception(failure);
}

void RunScope::CallFinished() {
  callActive_ = false;
  for (QEventLoop* loop : waiting_) loop->quit();
}

void RunScope::RequestCancel() {
  cancel_.store(true);
}

void RunScope::CancelAndWait() {
  exiting_ = true;
  RequestCancel();
  if (!callActive_) return;
  QEventLoop loop;
  waiting_.push_back(&loop);
  while (callActive_) loop.exec();
  std::erase(waiting_, &loop);
}

void CancelRunAndWait() {
  if (RunScope* scope = RunScope::Current()) scope->CancelAndWait();
}

}  // namespace tavrun::ui
