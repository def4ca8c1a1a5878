#include "app/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString folder()
{
    const QString overridden = qEnvironmentVariable("ONDAVOX_SETTINGS_DIR");
    if (!overridden.isEmpty())
        return overridden;
    return Settings::folderFor(QCoreApplication::applicationDirPath());
}

// QSettings replaces the file atomically and keeps the permissions of the one
// it replaces, so a file created private before the first write never shows
// its contents to others, not even for a moment; permissions are checked
// again after every write in case something else recreated the file.
void createPrivate(const QString &path)
{
    QFile file(path);
    if (file.exists())
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (file.open(QIODevice::WriteOnly, OwnerOnly))
        file.close();
}

void keepPrivate(const QString &path)
{
    QFile file(path);
    if (file.exists() && (file.permissions() & ~(OwnerOnly | QFileDevice::ReadUser | QFileDevice::WriteUser)) != 0)
        file.setPermissions(OwnerOnly);
}

} // namespace

namespace Settings {

QString folderFor(const QString &executableDir)
{
    const QFileInfo dir(executableDir);
    const QFileInfo file(executableDir + QStringLiteral("/Settings.ini"));
    const bool usable = file.exists() ? file.isWritable() : (dir.isDir() && dir.isWritable());
    if (usable)
        return executableDir;
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
}

QString filePath()
{
    return folder() + QStringLiteral("/Settings.ini");
}

std::unique_ptr<QSettings> open()
{
    // Reading creates nothing: a missing file reads as all keys absent.
    return std::make_unique<QSettings>(filePath(), QSettings::IniFormat);
}

void sync(QSettings &settings)
{
    createPrivate(settings.fileName());
    settings.sync();
    keepPrivate(settings.fileName());
}

} // namespace Settings
