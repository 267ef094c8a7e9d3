#include "ui/run_scope.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <exception>
#include <thread>
#include <vector>

#include "engine/host.h"

namespace tavrun::ui {
namespace {

RunScope* g_current = nullptr;

}  // namespace

RunScope::RunScope() {
  g_current = this;
}

RunScope::~RunScope() {
  if (g_current == this) g_current = nullptr;
}

RunScope* RunScope::Current() {
  return g_current;
}

void RunScope::RunBatch(const std::function<void()>& batch) {
  std::exception_ptr failure;
  QEventLoop loop;
  waiting_.push_back(&loop);
  active_ = true;
  // One thread for the whole batch: the libraries keep their per-thread buffers from one
  // file to the next.
  std::thread worker([this, &batch, &failure] {
    try {
      batch();
    } catch (...) {
      failure = std::current_exception();
    }
    // Queued: the loop below (or an exit waiting above it) learns it on the UI thread, after
    // every status text the batch posted before.
    QMetaObject::invokeMethod(
        this, [this] { BatchFinished(); }, Qt::QueuedConnection);
  });
  while (active_) loop.exec();
  worker.join();
  std::erase(waiting_, &loop);
  if (failure) std::rethrow_exception(failure);
}

void RunScope::BatchFinished() {
  active_ = false;
  for (QEventLoop* loop : waiting_) loop->quit();
}

void RunScope::CancelAndWait() {
  exiting_ = true;
  if (RunSession* session = RunSession::Current()) session->RequestCancel();
  if (!active_) return;
  QEventLoop loop;
  waiting_.push_back(&loop);
  while (active_) loop.exec();
  std::erase(waiting_, &loop);
}

void CancelRunAndWait() {
  if (RunScope* scope = RunScope::Current()) scope->CancelAndWait();
}

}  // namespace tavrun::ui
