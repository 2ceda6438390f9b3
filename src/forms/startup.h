#pragma once
// The program's start and end around the main window's life: the steps of
// the entry before the window is made and after the message loop has ended.
#include <QApplication>
#include <QString>

#include <exception>

namespace Corvanith::Forms {

// Makes the folder of the program's own file the working directory, so that
// a start from elsewhere (a shortcut, another shell folder) finds its files.
void SetProgramFolderAsWorkingDirectory();

// In this order: the program's folder becomes the working directory, the
// process's random generator is seeded, the shadow corners are loaded, the
// fixed settings are assigned, and the data files (the recent-documents list
// and the file cache) are opened in the user's application-data folder.
// When their folder cannot be locked although no other instance holds it,
// a message box says so.
void StartProgram();
// Saves and frees the data files, then frees the shadow corners; throws
// EStreamError when a data file cannot be written.
void EndProgram();

// Shows an exception that no handler took: its message in an error box.
void ShowException(const std::exception& Error);

// An exception raised while an event is handled is shown, and the event
// loop goes on.
class TCorvApplication : public QApplication {
public:
    TCorvApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {}
    bool notify(QObject* Receiver, QEvent* Event) override;
};

} // namespace Corvanith::Forms
