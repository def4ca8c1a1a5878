// The program in the user's language: its own texts from the translations
// it is built with, Qt's own for the standard buttons, and English, the
// language of the source, for anyone who puts it first.
#include "base/translations.h"
#include "testsupport.h"
#include "views/tcontactphonewidget.h"
#include "views/tlogin.h"
#include "account/taccount.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTranslator>
#include <QtTest>

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void englishFirstMeansEnglish();
    void germanForms();
    void runningFormsFollowALanguageChange();

private:
    void removeTranslators();
};

void TestTranslations::removeTranslators()
{
    for (QTranslator *translator : QCoreApplication::instance()->findChildren<QTranslator *>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

void TestTranslations::cleanup()
{
    removeTranslators();
}

void TestTranslations::englishFirstMeansEnglish()
{
    // German is there, but the user asks for English first.
    QCOMPARE(installTranslations(QLocale(QStringLiteral("en_GB")), QStringLiteral(ONDAVOX_QM_DIR)), QString());
    QVERIFY(QCoreApplication::instance()->findChildren<QTranslator *>().isEmpty());
    // A language without a translation leaves the program in English too.
    QCOMPARE(installTranslations(QLocale(QLocale::Japanese), QStringLiteral(ONDAVOX_QM_DIR)), QString());
}

void TestTranslations::germanForms()
{
    SettingsSandbox sandbox;
    // Austrian German finds the German translation.
    QVERIFY(installTranslations(QLocale(QStringLiteral("de_AT")), QStringLiteral(ONDAVOX_QM_DIR)).startsWith(QLatin1String("de")));

    TAccount account;
    TLogin login(&account);
    QCOMPARE(login.windowTitle(), QStringLiteral("Bei Ihrem Ondavox-Konto anmelden"));
    QCOMPARE(login.findChild<QPushButton *>(QStringLiteral("pbLogin"))->text(), QStringLiteral("Anmelden"));

    // The phone types read in German and still reach the service in English.
    TContactPhoneWidget row;
    auto *types = row.findChild<QComboBox *>(QStringLiteral("cbType"));
    row.setType(QStringLiteral("Mobile"));
    QCOMPARE(types->currentText(), QStringLiteral("Mobil"));
    QCOMPARE(row.type(), QStringLiteral("Mobile"));

    // Qt's own dialogs speak German as well.
    QDialogButtonBox buttons(QDialogButtonBox::Cancel);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Abbrechen"));
}

void TestTranslations::runningFormsFollowALanguageChange()
{
    SettingsSandbox sandbox;
    TAccount account;
    TLogin login(&account);
    TContactPhoneWidget row;
    row.setType(QStringLiteral("Work Fax"));
    login.findChild<QLineEdit *>(QStringLiteral("leEmail"))->setText(QStringLiteral("ana@example.com"));
    QCOMPARE(login.windowTitle(), QStringLiteral("Log in to your Ondavox account"));

    QVERIFY(!installTranslations(QLocale(QStringLiteral("es_ES")), QStringLiteral(ONDAVOX_QM_DIR)).isEmpty());
    // The change reaches the widgets through the event loop.
    QTRY_COMPARE(login.windowTitle(), QStringLiteral("Inicie sesión en su cuenta de Ondavox"));
    // What the user typed stays.
    QCOMPARE(login.findChild<QLineEdit *>(QStringLiteral("leEmail"))->text(), QStringLiteral("ana@example.com"));
    QCOMPARE(row.findChild<QComboBox *>(QStringLiteral("cbType"))->currentText(), QStringLiteral("Fax del trabajo"));

    removeTranslators();
    QTRY_COMPARE(login.windowTitle(), QStringLiteral("Log in to your Ondavox account"));
    QCOMPARE(row.type(), QStringLiteral("Work Fax"));
}

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
