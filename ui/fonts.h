// Fonts and layout units shared by the windows.
#pragma once

#include <QFont>
#include <QRect>

namespace tavrun::ui {

// Window geometry is kept in twips as the layout tables give it: 15 twips are one pixel at
// 96 dpi, and Qt's device-pixel ratio scales from there on denser screens.
constexpr int Tw(int twips) {
  return (twips + 7) / 15;
}
constexpr QRect TwRect(int left, int top, int width, int height) {
  return QRect(Tw(left), Tw(top), Tw(width), Tw(height));
}

// A Japanese sans-serif face from the system at the given size.
QFont JapaneseFont(int pointSize, bool bold);

// The program's look: the classic style, whose frames carry their caption on the border and
// whose status panels are sunken, as the layout tables assume; and a Japanese face at 9
// points as the default dialog font, so that captions fit the control heights of the tables
// and every Japanese text has its glyphs.
void ApplyProgramLook();

}  // namespace tavrun::ui
