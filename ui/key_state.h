// What the CAPS, NUM and INS panels of the status bar show.
#pragma once

#include <QObject>

namespace tavrun::ui {

// Follows Caps Lock, Num Lock and the insert mode. On X11 the two lock states are read from
// the keyboard extension of the server, so they are right from the start and after the user
// toggled them in another program; elsewhere (Wayland, offscreen) they start off and follow
// the lock keys this program receives. Insert has no system-wide state on Linux: it starts
// off and each Insert press the program receives toggles it.
class LockKeyState : public QObject {
  Q_OBJECT
 public:
  explicit LockKeyState(QObject* parent = nullptr);
  ~LockKeyState() override;

  bool capsLock() const { return caps_; }
  bool numLock() const { return num_; }
  bool insertMode() const { return insert_; }
  // True when the lock states come from the server rather than from key presses.
  bool readsServerState() const { return readsServer_; }

  // Reads the server state again (nothing without X11).
  void refresh();

 signals:
  void changed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void set(bool caps, bool num, bool insert);

  bool caps_ = false;
  bool num_ = false;
  bool insert_ = false;
  bool readsServer_ = false;
};

}  // namespace tavrun::ui
