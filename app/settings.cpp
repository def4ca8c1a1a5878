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
// it replaces, so creating it private once is enough; permissions are checked
// again after every write in case something else recreated it.
void makePrivate(const QString &path)
{
    QFile file(path);
    if (!file.exists()) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (file.open(QIODevice::WriteOnly, OwnerOnly))
            file.close();
        return;
    }
    if ((file.permissions() & ~(OwnerOnly | QFileDevice::ReadUser | QFileDevice::WriteUser)) != 0)
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
    const QString path = filePath();
    makePrivate(path);
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

void sync(QSettings &settings)
{
    settings.sync();
    makePrivate(settings.fileName());
}

} // namespace Settings
