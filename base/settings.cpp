#include "base/settings.h"

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

bool isSystemFolder(const QString &folder)
{
    // The system's program folders belong to its package manager, even where
    // the user (root) may write to them: a settings file left there would
    // outlive the package and hold the login digest in a shared place.
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    const QString path = canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
    for (const char *system : {"/usr", "/bin", "/sbin"}) {
        const QString prefix = QString::fromLatin1(system);
        if (path == prefix || path.startsWith(prefix + QLatin1Char('/')))
            return true;
    }
    return false;
}

QString folderFor(const QString &executableDir)
{
    const QFileInfo dir(executableDir);
    const QFileInfo file(executableDir + QStringLiteral("/Settings.ini"));
    const bool usable = file.exists() ? file.isWritable() : (dir.isDir() && dir.isWritable());
    if (usable && !isSystemFolder(executableDir))
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
