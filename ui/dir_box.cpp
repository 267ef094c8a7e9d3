#include "ui/dir_box.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QMimeData>
#include <QPalette>
#include <QUrl>

#include "ui/qt_seams.h"

namespace tavrun::ui {

std::optional<QString> FirstDroppedPath(const QMimeData* data) {
  if (!data || !data->hasUrls()) return std::nullopt;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return url.toLocalFile();
  }
  return std::nullopt;
}

DirBox::DirBox(QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);
  setAcceptDrops(true);
  // Locked boxes look like the buttons beside them, not like fields one can type into.
  QPalette pal = palette();
  pal.setColor(QPalette::Active, QPalette::Base, pal.color(QPalette::Active, QPalette::Button));
  pal.setColor(QPalette::Inactive, QPalette::Base, pal.color(QPalette::Inactive, QPalette::Button));
  pal.setColor(QPalette::Disabled, QPalette::Base, pal.color(QPalette::Disabled, QPalette::Button));
  setPalette(pal);
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { setToolTip(text); });
}

void DirBox::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  SelectAllText(this);
}

// QLineEdit refuses drops while read-only, so the drag events are answered here.
void DirBox::dragEnterEvent(QDragEnterEvent* event) {
  if (FirstDroppedPath(event->mimeData())) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void DirBox::dragMoveEvent(QDragMoveEvent* event) {
  if (FirstDroppedPath(event->mimeData())) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void DirBox::dropEvent(QDropEvent* event) {
  const std::optional<QString> path = FirstDroppedPath(event->mimeData());
  if (!path) {
    event->ignore();
    return;
  }
  setText(*path);
  event->acceptProposedAction();
}

}  // namespace tavrun::ui
