// The program's entry: the Qt application, the window-system side of the seams, then the
// start procedure and the event loop.
#include <QApplication>

#include "ui/fonts.h"
#include "ui/program_icon.h"
#include "ui/qt_seams.h"
#include "ui/startup.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tavrun"));
  // Lets the desktop match the window to the menu entry and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral(TAVRUN_APP_ID));
  QApplication::setWindowIcon(tavrun::ui::ProgramIcon());
  tavrun::ui::ApplyProgramLook();
  tavrun::ui::InstallQtSeams();
  tavrun::ui::InstallTerminationHandlers(app);
  if (!tavrun::ui::Main(tavrun::LaunchRequestFrom(argc, argv))) return 0;
  return app.exec();
}
