// The main window's phonebook, history, credit and text parts: the periodic
// requests, one expanded contact at a time, the text dialog opened from the
// toolbar and from a phone line, and adding a contact.
#include "account/tlogin.h"
#include "app/tevent.h"
#include "app/tmainwindow.h"
#include "httpresponder.h"
#include "telephony/ttextdialog.h"
#include "testsupport.h"
#include "views/tcontactinfo.h"
#include "views/tcontactwidget.h"
#include "views/thistorylist.h"
#include "views/titemdelegate.h"
#include "views/tphonewidget.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <memory>

namespace {

const QByteArray Phonebook = R"({"result":[
  {"id":"1","name":"Family","contacts":[
    {"id":"11","name":"Ada","phones":[
      {"id":"101","countryCode":"44","phone":"2079460000","type":"Home","wholePhone":"442079460000"},
      {"id":"102","countryCode":"1","phone":"5550100","type":"Work","wholePhone":"15550100"}]},
    {"id":"12","name":"Babbage","phones":[
      {"id":"103","countryCode":"39","phone":"06","type":"Mobile","wholePhone":"3906"}]}]},
  {"id":"2","name":"Work","contacts":[{"id":"21","name":"Grace","phones":[]}]}
]})";

} // namespace

class TestMainWindowPhonebook : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void treeFilledWithDelegateAndCreditMenu();
    void firstRequestsAfterHalfASecondThenEverySecond();
    void oneContactExpandedAtATime();
    void textFromAPhoneLine();
    void textFromTheToolbarStartsEmpty();
    void addContactFromTheToolbar();
    void callFromTheHistory();

private:
    TMainWindow *loggedInWindow();

    HttpResponder *responder = nullptr;
    SettingsSandbox *sandbox = nullptr;
};

void TestMainWindowPhonebook::init()
{
    responder = new HttpResponder;
    responder->setReply("/Webservices/login.php", R"({"Username":"1000","Password":"pw","Key":"K1"})");
    responder->setReply("/Webservices/contacts.php", Phonebook);
    responder->setReply("/Credit/GetCredit.html", R"({"Credit":12.50})");
    responder->setReply("/History/PlacedCallsDataAPI.html",
                        R"({"result":[{"Name":"Echo test","WholeNumber":"999","Duration":"00:00:09","starttime":"2024-05-01 10:00:00"}]})");
    responder->setReply("/update.php", "false");
    responder->setReply("/Phonebook/GetContactPhoto.html", HttpResponder::Reply{404, "", 0, false});
    qputenv("ONDAVOX_WEB_BASE", responder->baseUrl().toUtf8());
    sandbox = new SettingsSandbox;
    sandbox->storeLogin(QStringLiteral("demo@ondavox.com"), passwordDigest(QStringLiteral("ondavox-demo")));
}

void TestMainWindowPhonebook::cleanup()
{
    setMainWindow(nullptr);
    delete sandbox;
    delete responder;
    qunsetenv("ONDAVOX_WEB_BASE");
}

TMainWindow *TestMainWindowPhonebook::loggedInWindow()
{
    auto *window = new TMainWindow;
    setMainWindow(window);
    auto *tree = window->findChild<QTreeWidget *>("twContacts");
    if (!QTest::qWaitFor([tree] { return tree->topLevelItemCount() == 2; }, 5000))
        qWarning("phonebook not shown");
    return window;
}

void TestMainWindowPhonebook::treeFilledWithDelegateAndCreditMenu()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    auto *tree = window->findChild<QTreeWidget *>("twContacts");
    QCOMPARE(tree->topLevelItemCount(), 2);
    QVERIFY(qobject_cast<TItemDelegate *>(tree->itemDelegate()));
    auto *credit = window->findChild<QPushButton *>("pbCreditAmount");
    QVERIFY(credit->menu());
    const auto actions = credit->menu()->actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions.at(0)->objectName(), QStringLiteral("actionAdd_10"));
    QCOMPARE(actions.at(1)->objectName(), QStringLiteral("actionAdd_20"));
    QCOMPARE(actions.at(2)->objectName(), QStringLiteral("actionAdd_50"));
}

void TestMainWindowPhonebook::firstRequestsAfterHalfASecondThenEverySecond()
{
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    auto *credit = window->findChild<QPushButton *>("pbCreditAmount");
    QCOMPARE(credit->text(), QStringLiteral("$0.00"));
    QVERIFY(responder->requestsFor("/Credit/GetCredit.html").isEmpty());
    QTRY_COMPARE(credit->text(), QStringLiteral("$12.5"));
    QCOMPARE(responder->requestsFor("/History/PlacedCallsDataAPI.html").size(), 1);
    auto *history = window->findChild<THistoryList *>("twCallHistory");
    QTRY_COMPARE(history->topLevelItemCount(), 1);

    // The timer then asks every second.
    const int asked = responder->requestsFor("/Credit/GetCredit.html").size();
    responder->setReply("/Credit/GetCredit.html", R"({"Credit":"9.75"})");
    QTRY_COMPARE_WITH_TIMEOUT(credit->text(), QStringLiteral("$9.75"), 3000);
    QTest::qWait(2100);
    QVERIFY(responder->requestsFor("/Credit/GetCredit.html").size() >= asked + 3);
    // A balance missing from the answer leaves the sign alone.
    responder->setReply("/Credit/GetCredit.html", "false");
    QTRY_COMPARE_WITH_TIMEOUT(credit->text(), QStringLiteral("$"), 3000);
    QCOMPARE(responder->requestsFor("/History/PlacedCallsDataAPI.html").size(), 1);
}

void TestMainWindowPhonebook::oneContactExpandedAtATime()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *tree = window->findChild<QTreeWidget *>("twContacts");
    QTreeWidgetItem *ada = tree->topLevelItem(0)->child(0);
    QTreeWidgetItem *babbage = tree->topLevelItem(0)->child(1);
    QTreeWidgetItem *grace = tree->topLevelItem(1)->child(0);
    auto *adaEntry = qobject_cast<TContactWidget *>(tree->itemWidget(ada, 0));
    auto *babbageEntry = qobject_cast<TContactWidget *>(tree->itemWidget(babbage, 0));
    const int height = tree->height();
    QTRY_COMPARE(tree->visualItemRect(ada).height(), 40);

    tree->setCurrentItem(ada);
    QVERIFY(ada->data(0, ROLE_EXPANDED).toBool());
    QVERIFY(!babbage->data(0, ROLE_EXPANDED).toBool());
    QCOMPARE(adaEntry->maximumHeight(), 90);
    QTRY_COMPARE(tree->visualItemRect(ada).height(), 90);
    QTRY_COMPARE(adaEntry->height(), 90);

    tree->setCurrentItem(babbage);
    QVERIFY(!ada->data(0, ROLE_EXPANDED).toBool());
    QVERIFY(babbage->data(0, ROLE_EXPANDED).toBool());
    QCOMPARE(adaEntry->maximumHeight(), 40);
    QCOMPARE(babbageEntry->maximumHeight(), 60);
    QTRY_COMPARE(tree->visualItemRect(ada).height(), 40);
    QTRY_COMPARE(tree->visualItemRect(babbage).height(), 60);

    tree->setCurrentItem(grace);
    // No phones: the entry is 30 high, more than the delegate asks (10).
    QTRY_COMPARE(tree->visualItemRect(grace).height(), 30);
    // A group row collapses every contact.
    tree->setCurrentItem(tree->topLevelItem(0));
    QVERIFY(!grace->data(0, ROLE_EXPANDED).toBool());
    QCOMPARE(babbageEntry->maximumHeight(), 40);
    // Picking contacts does not make the list grow past its place.
    QTRY_COMPARE(tree->height(), height);
}

void TestMainWindowPhonebook::textFromAPhoneLine()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    responder->setReply("/Phonebook/Text.html", R"({"Success":true,"Error":""})");
    auto *tree = window->findChild<QTreeWidget *>("twContacts");
    // The user picks the contact, which shows its lines.
    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    auto *entry = qobject_cast<TContactWidget *>(tree->itemWidget(tree->topLevelItem(0)->child(0), 0));
    auto *line = entry->findChildren<TPhoneWidget *>().at(1);

    QStringList fields;
    QString success;
    onNextModal([&fields, &success](QWidget *modal) {
        auto *dialog = qobject_cast<TTextDialog *>(modal);
        QVERIFY(dialog);
        fields << dialog->findChild<QLineEdit *>("leCountryCode")->text() << dialog->findChild<QLineEdit *>("leNumber")->text()
               << dialog->findChild<QPlainTextEdit *>("pteText")->toPlainText();
        dialog->findChild<QPlainTextEdit *>("pteText")->setPlainText(QStringLiteral("On my way"));
        closeNextMessageBox(&success);
        dialog->findChild<QPushButton *>("pbSend")->click();
    });
    line->findChild<QPushButton *>("pbText")->click();
    QTRY_COMPARE(fields, (QStringList{"1", "5550100", ""}));
    QVERIFY(responder->waitForRequest("/Phonebook/Text.html"));
    QCOMPARE(responder->requestsFor("/Phonebook/Text.html").at(0).body,
             QByteArray("login=K1&TextCountryCode=1&TextPhone=5550100&SMSText=On%20my%20way"));
    QTRY_COMPARE(success, QStringLiteral("Text message successfully sent"));
    QCOMPARE(window->findChild<QStackedWidget *>("swPages")->currentWidget()->objectName(), QStringLiteral("pContacts"));

    // Opened again from a line, the message starts empty.
    QString text = QStringLiteral("unset");
    onNextModal([&text](QWidget *modal) {
        text = modal->findChild<QPlainTextEdit *>("pteText")->toPlainText();
        qobject_cast<QDialog *>(modal)->reject();
    });
    line->findChild<QPushButton *>("pbText")->click();
    QTRY_VERIFY(text.isEmpty());
}

void TestMainWindowPhonebook::textFromTheToolbarStartsEmpty()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    QStringList fields;
    onNextModal([&fields](QWidget *modal) {
        fields << modal->findChild<QLineEdit *>("leCountryCode")->text() << modal->findChild<QLineEdit *>("leNumber")->text();
        modal->findChild<QPushButton *>("pbCancel")->click();
    });
    postToMainWindow([] {
        auto *event = new TNumberEvent(EVENT_TEXT_NUMBER);
        event->countryCode = QStringLiteral("44");
        event->number = QStringLiteral("123");
        return event;
    }());
    QTRY_COMPARE(fields.size(), 2);
    onNextModal([&fields](QWidget *modal) {
        fields << modal->findChild<QLineEdit *>("leCountryCode")->text() << modal->findChild<QLineEdit *>("leNumber")->text();
        modal->findChild<QPushButton *>("pbCancel")->click();
    });
    window->findChild<QPushButton *>("pbText")->click();
    QCOMPARE(fields, (QStringList{"44", "123", "", ""}));
    QVERIFY(responder->requestsFor("/Phonebook/Text.html").isEmpty());
}

void TestMainWindowPhonebook::addContactFromTheToolbar()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    responder->setReply("/Phonebook/AddContactAPI.html", R"({"Success":true,"Error":"","ContactID":77})");
    const int loads = responder->requestsFor("/Webservices/contacts.php").size();
    QStringList groups;
    onNextModal([&groups](QWidget *modal) {
        auto *editor = qobject_cast<TContactInfo *>(modal);
        QVERIFY(editor);
        auto *box = editor->findChild<QComboBox *>("cbGroup");
        for (int i = 0; i < box->count(); ++i)
            groups << box->itemText(i);
        box->setCurrentIndex(1);
        editor->setName(QStringLiteral("Lin"));
        editor->findChild<QLineEdit *>("leCountryCode")->setText(QStringLiteral("86"));
        editor->findChild<QLineEdit *>("lePhoneNumber")->setText(QStringLiteral("1012345"));
        editor->findChild<QPushButton *>("pbSave")->click();
    });
    window->findChild<QPushButton *>("pbAddContact")->click();
    QCOMPARE(groups, (QStringList{"Family", "Work"}));
    QCOMPARE(responder->requestsFor("/Phonebook/AddContactAPI.html").at(0).body,
             QByteArray("login=K1&GroupID=2&Name=Lin&Title=&Company=&AddContactCountryCode_0=86&Phone_0=1012345&PhoneType_0=Home&"));
    QTRY_COMPARE(responder->requestsFor("/Webservices/contacts.php").size(), loads + 1);
}

void TestMainWindowPhonebook::callFromTheHistory()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    auto *history = window->findChild<THistoryList *>("twCallHistory");
    QTRY_COMPARE(history->topLevelItemCount(), 1);
    window->findChild<QTabWidget *>("twMainTabs")->setCurrentIndex(1);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QRect button = history->callButtonRect(history->topLevelItem(0));
    QVERIFY(!button.isEmpty());
    auto *number = window->findChild<QLineEdit *>("leNumber");
    // Beside the button: the row is chosen, nobody called.
    QTest::mouseClick(history->viewport(), Qt::LeftButton, {}, button.center() - QPoint(button.width() * 2, 0));
    QTest::qWait(50);
    QCOMPARE(number->text(), QString());
    QTest::mouseClick(history->viewport(), Qt::LeftButton, {}, button.center());
    // Not registered with the test engine: the number is shown, not dialled.
    QTRY_COMPARE(number->text(), QStringLiteral("999"));
}

QTEST_MAIN(TestMainWindowPhonebook)
#include "tst_mainwindowphonebook.moc"
