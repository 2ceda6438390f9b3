#pragma once
// The program's data folder and its cache sub-folder: made at start-up before
// the main window exists, made again at shutdown (the user may have deleted
// them meanwhile) just before the files in them are written.
#include <QString>

namespace Corvanith::Settings {

// The user's application-data folder + "/" + ApplicationName + "/"; empty
// before InitializeDataFolders. Always ends with a separator.
const QString& ApplicationDataPath();
// ApplicationDataPath() + "Cache/".
const QString& CachePath();

// Sets both paths under AppDataFolder (the user's application-data folder
// unless a caller says otherwise; an empty one puts them at the root of the
// drive) and creates them with any missing parents. A folder that cannot be
// made is not reported: nothing will then be found in it.
void InitializeDataFolders(const QString& AppDataFolder);
void InitializeDataFolders();
// Creates both folders again; the paths stay.
void EnsureDataFolders();

} // namespace Corvanith::Settings
