// The two directory boxes of the main window: locked single-line boxes that take a dropped
// file or folder, show their whole text as tooltip and select it all on focus.
#pragma once

#include <QLineEdit>
#include <QString>
#include <optional>

class QMimeData;

namespace tavrun::ui {

// The full path of the first item of a dropped file list, or nothing when the data carries no
// local file list (plain text, web addresses).
std::optional<QString> FirstDroppedPath(const QMimeData* data);

class DirBox : public QLineEdit {
  Q_OBJECT
 public:
  explicit DirBox(QWidget* parent = nullptr);

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
};

}  // namespace tavrun::ui
