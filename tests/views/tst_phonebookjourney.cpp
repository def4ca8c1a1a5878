// The demo account's phonebook against the real ondavox-devserver, as a user
// goes through it: the tree after login, a contact added, edited and deleted
// (each change followed by the rebuilt tree), a text message sent and
// charged, and the balance on the credit button.
#include "account/tlogin.h"
#include "app/tevent.h"
#include "app/tmainwindow.h"
#include "devserver_process.h"
#include "telephony/ttextdialog.h"
#include "testsupport.h"
#include "views/tcontactinfo.h"
#include "views/tcontactwidget.h"
#include "views/tgroupwidget.h"
#include "views/thistorylist.h"
#include "views/tphonewidget.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <memory>

namespace {

struct Shown {
    QString group;
    TContactWidget *entry;
};

// Every contact entry of the tree, by name.
QMap<QString, Shown> contactsOf(QTreeWidget *tree)
{
    QMap<QString, Shown> contacts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        auto *group = qobject_cast<TGroupWidget *>(tree->itemWidget(tree->topLevelItem(i), 0));
        for (int j = 0; j < tree->topLevelItem(i)->childCount(); ++j) {
            auto *entry = qobject_cast<TContactWidget *>(tree->itemWidget(tree->topLevelItem(i)->child(j), 0));
            contacts.insert(entry->name(), {group->groupName(), entry});
        }
    }
    return contacts;
}

QStringList linesOf(TContactWidget *entry)
{
    QStringList lines;
    for (const TPhoneWidget *line : entry->findChildren<TPhoneWidget *>())
        lines << '+' + line->countryCode() + ' ' + line->number() + ' ' + line->type();
    return lines;
}

} // namespace

class TestPhonebookJourney : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void journey();

private:
    std::unique_ptr<DevServer> server;
    std::unique_ptr<SettingsSandbox> sandbox;
};

void TestPhonebookJourney::initTestCase()
{
    server = std::make_unique<DevServer>();
    QString error;
    QVERIFY2(server->start(&error), qPrintable(error));
    qputenv("ONDAVOX_WEB_BASE", QByteArray("http://127.0.0.1:") + QByteArray::number(server->port()));
    qputenv("ONDAVOX_IAX2_HOST", QByteArray("127.0.0.1:") + QByteArray::number(server->iaxPort()));
    sandbox = std::make_unique<SettingsSandbox>();
    sandbox->storeLogin(QString::fromLatin1(kDemoEmail), passwordDigest(QString::fromLatin1(kDemoPassword)));
}

void TestPhonebookJourney::cleanupTestCase()
{
    setMainWindow(nullptr);
    sandbox.reset();
    server.reset();
    qunsetenv("ONDAVOX_WEB_BASE");
    qunsetenv("ONDAVOX_IAX2_HOST");
}

void TestPhonebookJourney::journey()
{
    std::unique_ptr<TMainWindow> window(new TMainWindow);
    setMainWindow(window.get());
    window->show();
    auto *tree = window->findChild<QTreeWidget *>("twContacts");
    auto *credit = window->findChild<QPushButton *>("pbCreditAmount");

    // The demo phonebook, and the balance.
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 3, 10000);
    auto contacts = contactsOf(tree);
    QVERIFY(contacts.contains(QStringLiteral("Echo test")));
    QCOMPARE(contacts.value(QStringLiteral("François Dubois")).group, QStringLiteral("Work"));
    QCOMPARE(linesOf(contacts.value(QStringLiteral("François Dubois")).entry),
             (QStringList{"+44 2079460123 Work", "+44 2079460124 Work Fax", "+44 7700900123 Mobile"}));
    const int before = contacts.size();
    QTRY_COMPARE_WITH_TIMEOUT(credit->text(), QStringLiteral("$10.00"), 5000);
    // Photos arrive (the service draws one for every contact).
    QTRY_VERIFY_WITH_TIMEOUT(!contacts.value(QStringLiteral("Echo test")).entry->findChild<QLabel *>("lblPicture")->pixmap().isNull(), 10000);
    QTRY_VERIFY(window->findChild<THistoryList *>("twCallHistory")->topLevelItemCount() > 0);

    // Add.
    onNextModal([](QWidget *modal) {
        auto *editor = qobject_cast<TContactInfo *>(modal);
        QVERIFY(editor);
        editor->findChild<QComboBox *>("cbGroup")->setCurrentText(QStringLiteral("Friends"));
        editor->setName(QStringLiteral("Journey Smith"));
        editor->setCompany(QStringLiteral("Smith & Sons"));
        editor->findChild<QLineEdit *>("leCountryCode")->setText(QStringLiteral("44"));
        editor->findChild<QLineEdit *>("lePhoneNumber")->setText(QStringLiteral("2079460999"));
        editor->findChild<QComboBox *>("cbType")->setCurrentText(QStringLiteral("Mobile"));
        editor->findChild<QPushButton *>("pbSave")->click();
    });
    window->findChild<QPushButton *>("pbAddContact")->click();
    QTRY_VERIFY_WITH_TIMEOUT(contactsOf(tree).contains(QStringLiteral("Journey Smith")), 10000);
    contacts = contactsOf(tree);
    QCOMPARE(contacts.size(), before + 1);
    QCOMPARE(contacts.value(QStringLiteral("Journey Smith")).group, QStringLiteral("Friends"));
    QCOMPARE(contacts.value(QStringLiteral("Journey Smith")).entry->company(), QStringLiteral("Smith & Sons"));
    QCOMPARE(linesOf(contacts.value(QStringLiteral("Journey Smith")).entry), (QStringList{"+44 2079460999 Mobile"}));

    // Edit: a new name, another group, and a second phone.
    onNextModal([](QWidget *modal) {
        auto *editor = qobject_cast<TContactInfo *>(modal);
        QVERIFY(editor);
        QCOMPARE(editor->findChild<QComboBox *>("cbGroup")->currentText(), QStringLiteral("Friends"));
        QCOMPARE(editor->phoneRowCount(), 1);
        editor->setName(QStringLiteral("Journey Jones"));
        editor->setGroup(QStringLiteral("Family"));
        editor->addPhone(0, QStringLiteral("1"), QStringLiteral("4155550100"), QStringLiteral("Work"));
        editor->findChild<QPushButton *>("pbSave")->click();
    });
    contacts.value(QStringLiteral("Journey Smith")).entry->actions().at(0)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(contactsOf(tree).contains(QStringLiteral("Journey Jones")), 10000);
    contacts = contactsOf(tree);
    QVERIFY(!contacts.contains(QStringLiteral("Journey Smith")));
    QCOMPARE(contacts.value(QStringLiteral("Journey Jones")).group, QStringLiteral("Family"));
    QCOMPARE(linesOf(contacts.value(QStringLiteral("Journey Jones")).entry),
             (QStringList{"+44 2079460999 Mobile", "+1 4155550100 Work"}));

    // A text message to the new contact's first line, charged 6 cents.
    // Picked in the tree, the contact shows its lines.
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        for (int j = 0; j < tree->topLevelItem(i)->childCount(); ++j)
            if (tree->itemWidget(tree->topLevelItem(i)->child(j), 0) == contacts.value(QStringLiteral("Journey Jones")).entry)
                tree->setCurrentItem(tree->topLevelItem(i)->child(j));
    TPhoneWidget *line = contacts.value(QStringLiteral("Journey Jones")).entry->findChildren<TPhoneWidget *>().at(0);
    QVERIFY(line->isVisible());
    QCOMPARE(line->findChild<QLabel *>("lblPhone")->text(), QStringLiteral("+44 2079460999"));
    QString success;
    onNextModal([&success](QWidget *modal) {
        auto *dialog = qobject_cast<TTextDialog *>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->findChild<QLineEdit *>("leCountryCode")->text(), QStringLiteral("44"));
        QCOMPARE(dialog->findChild<QLineEdit *>("leNumber")->text(), QStringLiteral("2079460999"));
        dialog->findChild<QPlainTextEdit *>("pteText")->setPlainText(QStringLiteral("See you at 5 & bring tea?"));
        closeNextMessageBox(&success);
        dialog->findChild<QPushButton *>("pbSend")->click();
    });
    line->findChild<QPushButton *>("pbText")->click();
    QTRY_COMPARE_WITH_TIMEOUT(success, QStringLiteral("Text message successfully sent"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(credit->text(), QStringLiteral("$9.94"), 5000);

    // Delete, after the question.
    onNextModal([](QWidget *modal) { qobject_cast<QMessageBox *>(modal)->button(QMessageBox::Yes)->click(); });
    contacts.value(QStringLiteral("Journey Jones")).entry->actions().at(1)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!contactsOf(tree).contains(QStringLiteral("Journey Jones")), 10000);
    QCOMPARE(contactsOf(tree).size(), before);

    // A change the service refuses: deleting a contact that is gone.
    QString refusal;
    closeNextMessageBox(&refusal);
    QMetaObject::invokeMethod(contactsOf(tree).value(QStringLiteral("Echo test")).entry, "deleteContact", Qt::DirectConnection, Q_ARG(int, 999999));
    QTRY_COMPARE_WITH_TIMEOUT(refusal.isEmpty(), false, 10000);
    QCOMPARE(contactsOf(tree).size(), before);
}

QTEST_MAIN(TestPhonebookJourney)
#include "tst_phonebookjourney.moc"
