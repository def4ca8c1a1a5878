#pragma once

#include <QString>
#include <memory>

class QSettings;

// The one way into "Settings.ini". Every use opens the file afresh and lets it
// go at the end of the operation, so what one operation wrote and synced is
// what the next one reads.
namespace Settings {

// Normally the file sits beside the executable. When that folder cannot be
// written (an installed program), the user's configuration folder is used for
// reading and writing alike. ONDAVOX_SETTINGS_DIR names another folder, for
// tests and demonstrations that must not touch the real file.
QString filePath();

// The folder the file lives in for a program installed in executableDir.
QString folderFor(const QString &executableDir);

// Whether folder lies in the system's own program tree (/usr, /bin, /sbin),
// where no settings are kept, whoever runs the program.
bool isSystemFolder(const QString &folder);

// Opens the file in INI format, for reading or writing; opening creates
// nothing.
std::unique_ptr<QSettings> open();

// Writes everything out. The file holds a password digest: the first write
// creates it readable and writable by its owner only, and it is kept so.
// Every write goes through here (a QSettings left to write on its own when
// it goes would create the file with everyone's read access).
void sync(QSettings &settings);

// Key names, in one place.
inline constexpr char Position[] = "Position";
inline constexpr char LoginEmail[] = "Login/Email";
inline constexpr char LoginPassword[] = "Login/Password";
inline constexpr char InputDevice[] = "Input Device";
inline constexpr char OutputDevice[] = "Output Device";

} // namespace Settings
