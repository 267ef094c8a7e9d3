// The life of one run as the libraries and the exit question see it: a QObject named
// "tavrunRunScope" under the application object, created when a run starts and deleted when
// it ends. It carries the run's cancel flag (published to the archiver libraries as the
// address of an atomic in the property "tavrunCancelFlag"), keeps what the libraries remember
// for the run (their children), and runs each library call on a worker thread while the UI
// thread goes on processing events.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <vector>

class QEventLoop;

namespace tavrun::ui {

class RunScope : public QObject {
 public:
  RunScope();
  ~RunScope() override;

  // The scope of the run under way, or null.
  static RunScope* Current();

  // Runs `call` on a worker thread and processes events until it has returned; an exception
  // it threw is rethrown here. One call at a time.
  void RunCall(const std::function<void()>& call);

  // Asks the running call (and every later one) to stop.
  void RequestCancel();
  bool CancelRequested() const { return cancel_.load(); }

  // The user confirmed the exit: cancel, then process events until the running call, if
  // any, has returned, so nothing is left half-written when the process ends.
  void CancelAndWait();
  bool Exiting() const { return exiting_; }

 private:
  void CallFinished();

  std::atomic<bool> cancel_{false};
  bool callActive_ = false;
  bool exiting_ = false;
  std::vector<QEventLoop*> waiting_;
};

// For the exit path: CancelAndWait on the run under way; nothing without one.
void CancelRunAndWait();

}  // namespace tavrun::ui
