// Qt implementations of the seams: message boxes, the wait pointer, opening a file with its
// associated program, and selecting a box's whole text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class QLineEdit;
class QMessageBox;
class QWidget;

namespace tavrun::ui {

// Installs the Qt handlers behind ShowMessage, SetMousePointer and ShellOpen.
void InstallQtSeams();

// The message box for one of the program's styles (16, 36, 48, 64, 292): icon, Japanese
// button texts, default button and title. Other styles get an OK box with no icon.
std::unique_ptr<QMessageBox> BuildMessageBox(const std::string& prompt, int32_t style,
                                             const std::string& title, QWidget* parent);
// Shows the box modally and returns the identifier of the button pressed (1 OK, 6 Yes, 7 No).
int32_t ExecMessageBox(QMessageBox& box);

// Selects the whole text, start first and then length, so typing would replace it all.
void SelectAllText(QLineEdit* box);

}  // namespace tavrun::ui
