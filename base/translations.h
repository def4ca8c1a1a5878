#pragma once

#include <QString>

class QLocale;

// Where the translations are, for the phone and its pages program alike:
// the installed tree's share folder, or, for a program run from its build
// tree, the folder beside it.
QString translationsFolder();

// Installs the program's translation for the first of locale's languages
// that has one, with Qt's own translation of its standard dialogs for the
// same language. English, the language of the source, needs none: a user
// who puts it first gets English. Returns the language chosen, or an empty
// text for English.
QString installTranslations(const QLocale &locale, const QString &folder);
