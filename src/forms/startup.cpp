#include "forms/startup.h"

#include "graphics/surface.h"
#include "io/random.h"
#include "io/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>

namespace Corvanith::Forms {

void SetProgramFolderAsWorkingDirectory() { QDir::setCurrent(QCoreApplication::applicationDirPath()); }

void StartProgram()
{
    SetProgramFolderAsWorkingDirectory();
    Utils::Randomize();
    Graphics::LoadShadowCorners();
    Settings::InitializeSettings();
    Settings::InitializeDataFiles();
    // Said once, before the window shows: this run keeps no recent documents.
    if (const QString& failure = Settings::DataFiles().LockFailure(); !failure.isEmpty())
        QMessageBox::warning(nullptr, QString::fromUtf8(Settings::ApplicationName), failure);
}

void EndProgram()
{
    // The shadow corners go even when the data files cannot be written.
    struct TFreeCorners {
        ~TFreeCorners() { Graphics::FreeShadowCorners(); }
    } freeCorners;
    Settings::FinalizeDataFiles();
}

void ShowException(const std::exception& Error)
{
    QMessageBox::critical(QApplication::activeWindow(), QString::fromUtf8(Settings::ApplicationName),
                          QString::fromUtf8(Error.what()));
}

bool TCorvApplication::notify(QObject* Receiver, QEvent* Event)
{
    try {
        return QApplication::notify(Receiver, Event);
    } catch (const std::exception& Error) {
        ShowException(Error);
        return false;
    }
}

} // namespace Corvanith::Forms
