#include "ui/qt_seams.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "common/seams.h"

namespace tavrun::ui {
namespace {

bool waitCursorShown = false;

// The box belongs over the window the user is working in; with none, it stands alone.
QWidget* MessageParent() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

int32_t QtShowMessage(const std::string& prompt, int32_t style, const std::string& title) {
  auto box = BuildMessageBox(prompt, style, title, MessageParent());
  // The box's own text stays as it is; what each file met is one button further.
  const std::string& details = CurrentMessageDetails();
  if (!details.empty()) {
    box->setDetailedText(QString::fromStdString(details));
    // A list of paths and reasons needs room: the box would otherwise keep the width of its
    // two-line text and wrap every path. A spacer in the box's own grid widens it.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
      grid->addItem(new QSpacerItem(520, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                    grid->rowCount(), 0, 1, grid->columnCount());
    }
  }
  // The pointer stays as the program set it: the hourglass of a run covers its boxes too.
  return ExecMessageBox(*box);
}

void QtSetMousePointer(int shape) {
  if (shape == PointerHourglass) {
    if (!waitCursorShown) {
      QGuiApplication::setOverrideCursor(Qt::WaitCursor);
      waitCursorShown = true;
    }
  } else if (waitCursorShown) {
    QGuiApplication::restoreOverrideCursor();
    waitCursorShown = false;
  }
}

void QtShellOpen(const std::string& path) {
  // Hands the file to the desktop's opener, which starts the viewer detached.
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace

void InstallQtSeams() {
  SetMessageBoxHandler(QtShowMessage);
  SetMousePointerHandler(QtSetMousePointer);
  SetShellOpenHandler(QtShellOpen);
}

std::unique_ptr<QMessageBox> BuildMessageBox(const std::string& prompt, int32_t style,
                                             const std::string& title, QWidget* parent) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setWindowTitle(QString::fromStdString(title));
  QString text = QString::fromStdString(prompt);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  box->setTextFormat(Qt::PlainText);  // a path may hold "<" or "&"
  box->setText(text);
  box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);

  const int32_t icon = style & 0xF0;
  const int32_t buttons = style & 0x0F;
  const bool secondDefault = (style & 0xF00) == 0x100;
  switch (icon) {
    case MsgStop: box->setIcon(QMessageBox::Critical); break;
    case 32: box->setIcon(QMessageBox::Question); break;
    case MsgExclamation: box->setIcon(QMessageBox::Warning); break;
    case MsgInformation: box->setIcon(QMessageBox::Information); break;
    default: box->setIcon(QMessageBox::NoIcon);
  }
  if (buttons == 4) {  // Yes and No
    QPushButton* yes = box->addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box->addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    yes->setProperty("tavrunId", IdYes);
    no->setProperty("tavrunId", IdNo);
    box->setDefaultButton(secondDefault ? no : yes);
    box->setEscapeButton(no);
  } else {
    QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    ok->setProperty("tavrunId", IdOk);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
  }
  return box;
}

int32_t ExecMessageBox(QMessageBox& box) {
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  if (!clicked) return IdCancel;
  bool ok = false;
  const int id = clicked->property("tavrunId").toInt(&ok);
  return ok ? id : IdCancel;
}

void SelectAllText(QLineEdit* box) {
  if (!box) return;
  // setSelection takes the start and the length, as the caret ends after the selection.
  box->setSelection(0, static_cast<int>(box->text().size()));
}

}  // namespace tavrun::ui
