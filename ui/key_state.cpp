#include "ui/key_state.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>

#if defined(TAVRUN_HAVE_XKB)
#include <QtGui/qguiapplication_platform.h>
// Xlib last: its macros (None, KeyPress, Bool) would clash with Qt's names.
#include <X11/XKBlib.h>
#include <X11/keysym.h>
#undef KeyPress
#undef KeyRelease
#endif

namespace tavrun::ui {
namespace {

#if defined(TAVRUN_HAVE_XKB)
Display* ServerDisplay() {
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (!app) return nullptr;
  auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->display() : nullptr;
}

bool ReadServerLocks(bool& caps, bool& num) {
  Display* display = ServerDisplay();
  if (!display) return false;
  XkbStateRec state{};
  if (XkbGetState(display, XkbUseCoreKbd, &state) != 0) return false;  // 0 is Success
  caps = (state.locked_mods & LockMask) != 0;
  const unsigned numMask = XkbKeysymToModifiers(display, XK_Num_Lock);
  num = numMask != 0 && (state.locked_mods & numMask) != 0;
  return true;
}
#else
bool ReadServerLocks(bool&, bool&) {
  return false;
}
#endif

}  // namespace

LockKeyState::LockKeyState(QObject* parent) : QObject(parent) {
  bool caps = false;
  bool num = false;
  readsServer_ = ReadServerLocks(caps, num);
  caps_ = caps;
  num_ = num;
  if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
}

LockKeyState::~LockKeyState() {
  if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(this);
}

void LockKeyState::refresh() {
  bool caps = caps_;
  bool num = num_;
  if (readsServer_ && ReadServerLocks(caps, num)) set(caps, num, insert_);
}

void LockKeyState::set(bool caps, bool num, bool insert) {
  if (caps == caps_ && num == num_ && insert == insert_) return;
  caps_ = caps;
  num_ = num;
  insert_ = insert;
  emit changed();
}

bool LockKeyState::eventFilter(QObject* watched, QEvent* event) {
  // The application sees every key event once per receiving object on its way up the parent
  // chain; only the one addressed to a window counts, so a press toggles once.
  const QEvent::Type type = event->type();
  if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (watched->isWindowType() && !key->isAutoRepeat()) {
      bool caps = caps_;
      bool num = num_;
      bool insert = insert_;
      if (type == QEvent::KeyPress) {
        if (key->key() == Qt::Key_Insert) insert = !insert;
        if (!readsServer_) {
          if (key->key() == Qt::Key_CapsLock) caps = !caps;
          if (key->key() == Qt::Key_NumLock) num = !num;
        }
      }
      if (readsServer_) ReadServerLocks(caps, num);
      set(caps, num, insert);
    }
  } else if (type == QEvent::ApplicationActivate) {
    refresh();
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace tavrun::ui
