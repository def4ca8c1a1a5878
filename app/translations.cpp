#include "app/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

QString translationsFolder()
{
    const QDir bin(QCoreApplication::applicationDirPath());
    const QString installed = bin.filePath(QStringLiteral(ONDAVOX_TRANSLATIONS_FROM_BIN));
    return QDir(installed).exists() ? installed : bin.filePath(QStringLiteral("translations"));
}

QString installTranslations(const QLocale &locale, const QString &folder)
{
    for (QString language : locale.uiLanguages()) {
        language.replace(QLatin1Char('-'), QLatin1Char('_'));
        if (language == QLatin1String("C") || language == QLatin1String("en")
            || language.startsWith(QLatin1String("en_")))
            return QString();
        auto *own = new QTranslator(QCoreApplication::instance());
        // "ondavox_de_AT" falls back to "ondavox_de".
        if (!own->load(QLatin1String("ondavox_") + language, folder)) {
            delete own;
            continue;
        }
        auto *qt = new QTranslator(QCoreApplication::instance());
        if (qt->load(QLatin1String("qtbase_") + language, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(qt);
        else
            delete qt;
        QCoreApplication::installTranslator(own);
        return own->language();
    }
    return QString();
}
