// The log and readme commands of the Tools and Help menus.
#pragma once

namespace tavrun::ui {

// Opens the log with its associated viewer, or says that there is none.
void ShowLogCommand();
// Asks, then deletes the log (a read-only log included) and says how it went.
void ClearLogCommand();
// Opens the readme with its associated viewer, or says that it is missing.
void OpenReadmeCommand();

}  // namespace tavrun::ui
