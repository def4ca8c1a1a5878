#include "base/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

QString translationsFolder()
{
    // The phone is installed in bin, its pages program in the private
    // folder; in the build tree both sit beside the translations.
    const QDir here(QCoreApplication::applicationDirPath());
    for (const char *installed : {ONDAVOX_TRANSLATIONS_FROM_BIN, ONDAVOX_TRANSLATIONS_FROM_PRIVATE}) {
        const QString folder = here.filePath(QString::fromUtf8(installed));
        if (QDir(folder).exists())
            return folder;
    }
    return here.filePath(QStringLiteral("translations"));
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
