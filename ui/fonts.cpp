#include "ui/fonts.h"

#include <QApplication>
#include <QStringList>
#include <QStyle>
#include <QStyleFactory>

namespace tavrun::ui {

QFont JapaneseFont(int pointSize, bool bold) {
  QFont font;
  // The proportional face first: the windows were laid out for a proportional Gothic.
  font.setFamilies(QStringList{QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                               QStringLiteral("Noto Sans CJK JP"), QStringLiteral("sans-serif")});
  font.setPointSize(pointSize);
  font.setBold(bold);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

void ApplyProgramLook() {
  if (QStyle* style = QStyleFactory::create(QStringLiteral("Windows")))
    QApplication::setStyle(style);
  QApplication::setFont(JapaneseFont(9, false));
}

}  // namespace tavrun::ui
