// The directory chooser behind the two browse buttons.
#pragma once

#include <functional>
#include <string>

class QFileDialog;
class QWidget;

namespace tavrun::ui {

inline constexpr const char* kSelectDirectoryPrompt = "ディレクトリを選択して下さい。";

// Asks for a directory over `owner`: directories only, opened at the folder `current` names
// (see ChooserStartFolder) with nothing preselected. Returns the chosen path as the chooser
// reports it, or "" when cancelled.
std::string SelectDirectory(QWidget* owner, const std::string& current = "");

// Where the chooser opens for a box's text: the folder it names, or its nearest existing
// parent; "/" for an empty or relative text.
std::string ChooserStartFolder(const std::string& current);

// Lays out the chooser's detail view: folder name and date, the date never cut off.
void FitFolderColumns(QFileDialog& dialog);

// Test seam: a queued answer is returned instead of showing the chooser (first in, first
// out). A handler replaces the chooser for every call while set; an empty one restores it.
void SetNextDirectory(const std::string& answer);
void SetFolderChooserHandler(std::function<std::string(QWidget* owner)> handler);
void ClearFolderChooserSeam();
// How often the chooser was asked since the last ClearFolderChooserSeam, and the folder it
// opened at the last time.
int FolderChooserCalls();
std::string LastChooserStartFolder();

}  // namespace tavrun::ui
