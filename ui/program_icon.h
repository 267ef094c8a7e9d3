// The program icon, drawn here: a sheet going down into an archive box.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace tavrun::ui {

// The picture at 32 x 32 or 16 x 16 pixels (other sizes scale the 32-pixel drawing), in the
// 16 colours of the standard palette.
QPixmap ProgramPixmap(int size);
// Both sizes in one icon, for the window title bar and the task bar.
QIcon ProgramIcon();

}  // namespace tavrun::ui
