#include "ui/version_dialog.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "app/settings.h"
#include "app/version.h"
#include "ui/fonts.h"
#include "ui/program_icon.h"

namespace tavrun::ui {

FrmTavrunVersion::FrmTavrunVersion(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmTavrunVersion"));
  // Fixed border with a close box only; closing it that way is the same as OK.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(Tw(3405), Tw(2025));

  image1_ = new QLabel(this);
  image1_->setObjectName(QStringLiteral("Image1"));
  image1_->setGeometry(TwRect(120, 120, 480, 480));
  image1_->setPixmap(ProgramPixmap(32));

  auto makeLabel = [this](const char* name, int left, int top, const QFont& font) {
    auto* label = new QLabel(QString::fromUtf8(name), this);
    label->setObjectName(QString::fromUtf8(name));
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);  // the address is text, not a link
    label->move(Tw(left), Tw(top));
    label->adjustSize();
    return label;
  };
  label1_ = makeLabel("Label1", 840, 240, JapaneseFont(12, true));
  label2_ = makeLabel("Label2", 1560, 600, JapaneseFont(9, true));
  label3_ = makeLabel("Label3", 525, 1080, JapaneseFont(9, true));

  command1_ = new QPushButton(QStringLiteral("OK"), this);
  command1_->setObjectName(QStringLiteral("Command1"));
  command1_->setGeometry(TwRect(1035, 1440, 1335, 375));
  command1_->setDefault(true);
  connect(command1_, &QPushButton::clicked, this, &QDialog::accept);
  command1_->setFocus();
}

void FrmTavrunVersion::Form_Load() {
  setWindowTitle(QString::fromStdString(App().WindowTitle));
  label1_->setText(QString::fromUtf8(AppTitle));
  label2_->setText(QString::fromStdString(GetLongVersion()));
  label3_->setText(QString::fromUtf8(kMakerWebAddress));
  for (QLabel* label : {label1_, label2_, label3_}) label->adjustSize();
}

void FrmTavrunVersion::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void ShowVersionDialog() {
  FrmTavrunVersion dialog;
  dialog.Form_Load();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    dialog.move(area.center() - QPoint(dialog.width() / 2, dialog.height() / 2));
  }
  dialog.exec();
}

}  // namespace tavrun::ui
