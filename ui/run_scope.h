// The window's run under way: the whole batch on one worker thread while the UI thread goes
// on processing events (repaint, the close box, the libraries' dialogs). One at a time.
#pragma once

#include <QObject>
#include <functional>

class QEventLoop;

namespace tavrun::ui {

class RunScope : public QObject {
 public:
  RunScope();
  ~RunScope() override;

  // The run under way, or null.
  static RunScope* Current();

  // Runs `batch` on the worker thread and processes events until it has returned; an
  // exception it threw is rethrown here.
  void RunBatch(const std::function<void()>& batch);

  // The user confirmed the exit: cancel the run, then process events until the batch has
  // stopped, so nothing is left half-written when the process ends.
  void CancelAndWait();
  bool Exiting() const { return exiting_; }

 private:
  void BatchFinished();

  bool active_ = false;
  bool exiting_ = false;
  std::vector<QEventLoop*> waiting_;
};

// For the exit path: CancelAndWait on the run under way; nothing without one.
void CancelRunAndWait();

}  // namespace tavrun::ui
