#include "io/datafolders.h"

#include "io/settings.h"
#include "io/utils.h"

#include <QDir>

namespace Corvanith::Settings {

namespace {

QString TheApplicationDataPath;
QString TheCachePath;

} // namespace

const QString& ApplicationDataPath() { return TheApplicationDataPath; }
const QString& CachePath() { return TheCachePath; }

void InitializeDataFolders(const QString& AppDataFolder)
{
    TheApplicationDataPath = AppDataFolder + u'/' + QString::fromUtf8(ApplicationName) + u'/';
    TheCachePath = TheApplicationDataPath + QStringLiteral("Cache/");
    EnsureDataFolders();
}

void InitializeDataFolders() { InitializeDataFolders(Utils::GetSpecialFolderPath(Utils::CsidlAppData)); }

void EnsureDataFolders()
{
    QDir().mkpath(TheApplicationDataPath);
    QDir().mkpath(TheCachePath);
}

} // namespace Corvanith::Settings
