// Tab through a window the way its users expect of option buttons: a group of buttons that
// exclude each other is one tab stop, and Tab lands on its selected button.
#pragma once

class QWidget;

namespace tavrun::ui {

// Moves the focus of `window` to the next (or previous) tab stop under that rule. False when
// the window has no focus widget or no other stop, and nothing was moved.
bool MoveTabFocus(QWidget* window, bool next);

}  // namespace tavrun::ui
