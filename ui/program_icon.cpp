#include "ui/program_icon.h"

#include <QPainter>
#include <QPolygon>

namespace tavrun::ui {
namespace {

// Colours of the classic 16-colour palette only, so the icon looks the same at any depth.
const QColor kBlack(0, 0, 0);
const QColor kNavy(0, 0, 128);
const QColor kOlive(128, 128, 0);
const QColor kSilver(192, 192, 192);
const QColor kGray(128, 128, 128);
const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kWhite(255, 255, 255);

// A filled rectangle with a one-pixel outline, given by its inclusive corners.
void Box(QPainter& p, int x0, int y0, int x1, int y1, const QColor& fill, const QColor& line) {
  p.fillRect(x0, y0, x1 - x0 + 1, y1 - y0 + 1, line);
  if (x1 - x0 >= 2 && y1 - y0 >= 2) p.fillRect(x0 + 1, y0 + 1, x1 - x0 - 1, y1 - y0 - 1, fill);
}

void Draw32(QPainter& p) {
  // The sheet: a text page with a folded corner.
  Box(p, 5, 1, 18, 14, kWhite, kBlack);
  p.fillRect(15, 1, 4, 4, Qt::transparent);
  p.fillRect(15, 1, 1, 4, kBlack);
  p.fillRect(15, 4, 4, 1, kBlack);
  for (int y = 5; y <= 11; y += 2) p.fillRect(8, y, y == 5 ? 6 : 8, 1, kNavy);
  // The arrow into the box.
  p.fillRect(24, 2, 4, 9, kRed);
  p.setPen(Qt::NoPen);
  p.setBrush(kRed);
  p.drawPolygon(QPolygon({QPoint(21, 11), QPoint(30, 11), QPoint(26, 15), QPoint(25, 15)}));
  // The archive box with its lid and clasp.
  Box(p, 3, 16, 28, 30, kOlive, kBlack);
  Box(p, 3, 16, 28, 20, kYellow, kBlack);
  p.fillRect(4, 29, 24, 1, kGray);
  Box(p, 13, 19, 18, 24, kSilver, kBlack);
}

void Draw16(QPainter& p) {
  Box(p, 2, 0, 9, 7, kWhite, kBlack);
  p.fillRect(4, 3, 4, 1, kNavy);
  p.fillRect(4, 5, 4, 1, kNavy);
  p.fillRect(12, 1, 2, 4, kRed);
  p.fillRect(11, 5, 4, 1, kRed);
  p.fillRect(12, 6, 2, 1, kRed);
  Box(p, 1, 8, 14, 15, kOlive, kBlack);
  Box(p, 1, 8, 14, 10, kYellow, kBlack);
  Box(p, 6, 9, 9, 12, kSilver, kBlack);
}

}  // namespace

QPixmap ProgramPixmap(int size) {
  const int base = size == 16 ? 16 : 32;
  QPixmap pixmap(base, base);
  pixmap.fill(Qt::transparent);
  {
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    if (base == 16) {
      Draw16(p);
    } else {
      Draw32(p);
    }
  }
  if (size != base) return pixmap.scaled(size, size, Qt::KeepAspectRatio, Qt::FastTransformation);
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  icon.addPixmap(ProgramPixmap(32));
  icon.addPixmap(ProgramPixmap(16));
  return icon;
}

}  // namespace tavrun::ui
