#include "forms/startup.h"

#include "graphics/surface.h"
#include "io/datafolders.h"
#include "io/random.h"
#include "io/settings.h"
#include "io/utils.h"

#include <QCoreApplication>
#include <QDir>

namespace Corvanith::Forms {

void SetProgramFolderAsWorkingDirectory() { QDir::setCurrent(QCoreApplication::applicationDirPath()); }

void StartProgram(const QString& AppDataFolder)
{
    SetProgramFolderAsWorkingDirectory();
    Utils::Randomize();
    Graphics::LoadShadowCorners();
    Settings::InitializeSettings();
    Settings::InitializeDataFolders(AppDataFolder);
}

void StartProgram() { StartProgram(Utils::GetSpecialFolderPath(Utils::CsidlAppData)); }

void EndProgram()
{
    Settings::EnsureDataFolders();
    Graphics::FreeShadowCorners();
}

} // namespace Corvanith::Forms
