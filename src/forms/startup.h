#pragma once
// The program's start and end around the main window's life: the steps of
// the entry before the window is made and after the message loop has ended.
#include <QString>

namespace Corvanith::Forms {

// Makes the folder of the program's own file the working directory, so that
// a start from elsewhere (a shortcut, another shell folder) finds its files.
void SetProgramFolderAsWorkingDirectory();

// In this order: the program's folder becomes the working directory, the
// process's random generator is seeded, the shadow corners are loaded, the
// fixed settings are assigned, and the data folder with its cache sub-folder
// is made under AppDataFolder (the user's application-data folder unless a
// caller says otherwise).
void StartProgram(const QString& AppDataFolder);
void StartProgram();
// Makes the data folders again (they may have been deleted meanwhile), then
// frees the shadow corners.
void EndProgram();

} // namespace Corvanith::Forms
