// The main window's phonebook, history, credit and text parts: the periodic
// requests, one expanded contact at a time, the text dialog opened from the
// toolbar and from a phone line, and adding a contact.
#include "views/tlogin.h"
#include "contacttreesupport.h"
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "httpresponder.h"
#include "views/ttextdialog.h"
#include "testsupport.h"
#include "views/tcontactinfo.h"
#include "views/tcontactphotos.h"
#include "views/tcontacttree.h"
#include "views/tcontactwidget.h"
#include "views/tgroupwidget.h"
#include "views/thistorylist.h"
#include "views/titemdelegate.h"
#include "views/tphonewidget.h"

#include <QAction>
#include <QBuffer>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QElapsedTimer>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QStackedWidget>
#include <QTabWidget>
#include <QSystemTrayIcon>
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
    void refreshWhileAContactMenuIsOpen();
    void editOpensTheRowsOwnContact();
    void photosForRowsInViewKeptAcrossRefreshes();
    void rowsPaintedAsTheirEntryWidgets();

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
    // Without a tray (as offscreen) the menu also carries a separator, Logout and Exit.
    QCOMPARE(actions.size(), QSystemTrayIcon::isSystemTrayAvailable() ? 3 : 6);
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
    const int height = tree->height();
    QTRY_COMPARE(tree->visualItemRect(ada).height(), 40);
    QCOMPARE(tree->visualItemRect(tree->topLevelItem(0)).height(), 34);
    // Collapsed rows are painted, not made of widgets.
    QVERIFY(!tree->itemWidget(ada, 0));

    tree->setCurrentItem(ada);
    QVERIFY(ada->data(0, ROLE_EXPANDED).toBool());
    QVERIFY(!babbage->data(0, ROLE_EXPANDED).toBool());
    QPointer<TContactWidget> adaEntry = qobject_cast<TContactWidget *>(tree->itemWidget(ada, 0));
    QVERIFY(adaEntry);
    QCOMPARE(adaEntry->maximumHeight(), 90);
    QCOMPARE(adaEntry->findChildren<TPhoneWidget *>().size(), 2);
    QTRY_COMPARE(tree->visualItemRect(ada).height(), 90);
    QTRY_COMPARE(adaEntry->height(), 90);

    tree->setCurrentItem(babbage);
    QVERIFY(!ada->data(0, ROLE_EXPANDED).toBool());
    QVERIFY(babbage->data(0, ROLE_EXPANDED).toBool());
    auto *babbageEntry = qobject_cast<TContactWidget *>(tree->itemWidget(babbage, 0));
    QCOMPARE(babbageEntry->maximumHeight(), 60);
    QVERIFY(!tree->itemWidget(ada, 0));
    QTRY_VERIFY(!adaEntry);
    QTRY_COMPARE(tree->visualItemRect(ada).height(), 40);
    QTRY_COMPARE(tree->visualItemRect(babbage).height(), 60);

    tree->setCurrentItem(grace);
    // No phones: the entry is 30 high, more than the delegate asks (10).
    QTRY_COMPARE(tree->visualItemRect(grace).height(), 30);
    // A group row collapses every contact.
    tree->setCurrentItem(tree->topLevelItem(0));
    QVERIFY(!grace->data(0, ROLE_EXPANDED).toBool());
    QVERIFY(!tree->itemWidget(grace, 0));
    QTRY_COMPARE(tree->visualItemRect(grace).height(), 40);
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
    QPointer<TPhoneWidget> line = entry->findChildren<TPhoneWidget *>().at(1);

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
    // From the keyboard: Return on the chosen row.
    number->clear();
    history->setFocus();
    QTest::keyClick(history, Qt::Key_Return);
    QTRY_COMPARE(number->text(), QStringLiteral("999"));
}

namespace {

// One group of `contacts` contacts, "Person 1" on, with IDs from 1001; the
// name of `renamed` (an ID) gets a mark.
QByteArray bigPhonebook(int contacts, int renamed = 0)
{
    QByteArray json = R"({"result":[{"id":"1","name":"Everyone","contacts":[)";
    for (int i = 1; i <= contacts; ++i) {
        const QByteArray id = QByteArray::number(1000 + i);
        json += (i > 1 ? "," : "") + QByteArray(R"({"id":")") + id + R"(","name":"Person )" + QByteArray::number(i)
                + (1000 + i == renamed ? " (new)" : "") + R"(","phones":[{"id":")" + id
                + R"(","countryCode":"44","phone":"1","type":"Home","wholePhone":"441"}]})";
    }
    return json + "]}]}";
}

QSet<QByteArray> photosAsked(HttpResponder *responder)
{
    QSet<QByteArray> asked;
    for (const auto &request : responder->requestsFor("/Phonebook/GetContactPhoto.html"))
        asked.insert(request.query());
    return asked;
}

} // namespace

// Adds a contact through the toolbar's editor; the phonebook is downloaded
// again once the service has stored it.
void reloadByAdding(HttpResponder *responder, TMainWindow *window)
{
    responder->setReply("/Phonebook/AddContactAPI.html", R"({"Success":true,"Error":"","ContactID":13})");
    onNextModal([](QWidget *modal) {
        auto *editor = qobject_cast<TContactInfo *>(modal);
        editor->setName(QStringLiteral("Lin"));
        editor->findChild<QLineEdit *>("leCountryCode")->setText(QStringLiteral("86"));
        editor->findChild<QLineEdit *>("lePhoneNumber")->setText(QStringLiteral("1012345"));
        editor->findChild<QPushButton *>("pbSave")->click();
    });
    window->findChild<QPushButton *>("pbAddContact")->click();
}

// A phonebook download (the reload after an add) lands while the context
// menu of a contact row is open: the rows go, the menu must not go with
// them, and what the user then picks applies to the contact as the new
// phonebook holds it. Both for a painted row and for the expanded one.
void TestMainWindowPhonebook::refreshWhileAContactMenuIsOpen()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *tree = window->findChild<QTreeWidget *>("twContacts");

    for (const QString &name : {QStringLiteral("Babbage"), QStringLiteral("Ada")}) {
        tree->setCurrentItem(contactRow(tree, QStringLiteral("Ada")));
        QTreeWidgetItem *row = contactRow(tree, name);
        QVERIFY(row);
        QByteArray after = Phonebook;
        after.replace("\"name\":\"" + name.toUtf8() + '"', "\"name\":\"" + name.toUtf8() + "\",\"title\":\"Analyst\"");
        responder->setReply("/Webservices/contacts.php", HttpResponder::Reply{200, after, 400, false});
        const int loads = responder->requestsFor("/Webservices/contacts.php").size();
        reloadByAdding(responder, window.get());
        QTRY_COMPARE(responder->requestsFor("/Webservices/contacts.php").size(), loads + 1);

        QStringList seen;
        QString title = QStringLiteral("no editor");
        bool replacedWhileOpen = false;
        onContextMenu(tree, row, [&](QMenu *menu) {
            for (QAction *action : menu->actions())
                seen << action->text();
            // The download replaces every row while the menu is open.
            replacedWhileOpen = QTest::qWaitFor(
                [&] { return TContactTree::contactOf(contactRow(tree, name)).title == QStringLiteral("Analyst"); }, 3000);
            replacedWhileOpen = replacedWhileOpen && menu->isVisible();
            onNextModal([&title](QWidget *modal) {
                title = modal->findChild<QLineEdit *>("leTitle")->text();
                qobject_cast<QDialog *>(modal)->reject();
            });
            chooseInMenu(menu, QStringLiteral("Edit Contact"));
        });
        QVERIFY(replacedWhileOpen);
        QCOMPARE(seen, (QStringList{"Edit Contact", "Delete Contact"}));
        QTRY_COMPARE(title, QStringLiteral("Analyst"));
    }
    // The tree still works.
    tree->setCurrentItem(contactRow(tree, QStringLiteral("Babbage")));
    QVERIFY(tree->itemWidget(contactRow(tree, QStringLiteral("Babbage")), 0));
}

// IDs that are not numbers all read as 0: the editor opened from a row's
// menu shows that row's contact, not the first with the same ID.
void TestMainWindowPhonebook::editOpensTheRowsOwnContact()
{
    responder->setReply("/Webservices/contacts.php", R"({"result":[{"id":"1","name":"Family","contacts":[
        {"id":"a-1","name":"Ada","phones":[]},
        {"id":"b-2","name":"Babbage","title":"Analyst","phones":[]}]}]})");
    std::unique_ptr<TMainWindow> window(new TMainWindow);
    setMainWindow(window.get());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *tree = window->findChild<QTreeWidget *>("twContacts");
    QTRY_VERIFY_WITH_TIMEOUT(contactRow(tree, QStringLiteral("Babbage")), 5000);

    QString name;
    QString title;
    onContextMenu(tree, contactRow(tree, QStringLiteral("Babbage")), [&](QMenu *menu) {
        onNextModal([&](QWidget *modal) {
            name = modal->findChild<QLineEdit *>("leName")->text();
            title = modal->findChild<QLineEdit *>("leTitle")->text();
            qobject_cast<QDialog *>(modal)->reject();
        });
        chooseInMenu(menu, QStringLiteral("Edit Contact"));
    });
    QTRY_COMPARE(name, QStringLiteral("Babbage"));
    QCOMPARE(title, QStringLiteral("Analyst"));
}

// Photos are fetched for the rows in view, a few at a time, each given its
// whole time-out from when it is sent; a refresh keeps those of unchanged
// contacts.
void TestMainWindowPhonebook::photosForRowsInViewKeptAcrossRefreshes()
{
    responder->setReply("/Webservices/contacts.php", bigPhonebook(400));
    responder->setReply("/Phonebook/GetContactPhoto.html", HttpResponder::Reply{200, pngOf(QSize(50, 50), QColor(10, 120, 60)), 250, false});
    std::unique_ptr<TMainWindow> window(new TMainWindow);
    setMainWindow(window.get());
    window->resize(360, 600);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *tree = window->findChild<QTreeWidget *>("twContacts");
    TContactPhotos *photos = tree->findChild<TContactTree *>()->photos();
    // Each photo takes 250 ms and may take 600 once sent: the third round of
    // six would run out of time if it counted from when it was queued.
    photos->setTimeout(600);
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!photosAsked(responder).isEmpty(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(photos->pending(), 0, 10000);

    // Only rows in view asked, and every one of them got its photo.
    const QSet<QByteArray> first = photosAsked(responder);
    QVERIFY2(first.size() > 5 && first.size() <= tree->viewport()->height() / 40 + 2, qPrintable(QString::number(first.size())));
    for (int i = 0; i < first.size(); ++i) {
        const TContact contact = TContactTree::contactOf(tree->topLevelItem(0)->child(i));
        QVERIFY(first.contains("ContactID=" + QByteArray::number(contact.contactID)));
        QVERIFY2(!photos->photo(contact).isNull(), qPrintable(contact.name));
    }
    // A painted row shows its photo.
    const QRect firstRow = tree->visualItemRect(tree->topLevelItem(0)->child(0));
    QTRY_COMPARE(QColor(tree->viewport()->grab().toImage().pixel(firstRow.left() + 20, firstRow.top() + 20)),
                 QColor(10, 120, 60));

    // Scrolled to the end: the last rows' photos, not those in between.
    tree->scrollToBottom();
    QTRY_VERIFY(photosAsked(responder).contains("ContactID=1400"));
    QVERIFY(!photosAsked(responder).contains("ContactID=1200"));
    QTRY_COMPARE_WITH_TIMEOUT(photos->pending(), 0, 10000);

    // After a refresh in which one contact changed, the rows in view (at
    // the top, where the new tree starts, then at the bottom) ask again,
    // each once, the changed one among them; the kept photos stay shown
    // meanwhile, and rows not shown are not asked for.
    const int asked = responder->requestsFor("/Phonebook/GetContactPhoto.html").size();
    responder->setReply("/Webservices/contacts.php", bigPhonebook(400, 1399));
    reloadByAdding(responder, window.get());
    QTRY_COMPARE(TContactTree::contactOf(tree->topLevelItem(0)->child(398)).name, QStringLiteral("Person 399 (new)"));
    QVERIFY(!photos->photo(TContactTree::contactOf(tree->topLevelItem(0)->child(397))).isNull());
    tree->scrollToBottom();
    QTRY_VERIFY(photosAsked(responder).contains("ContactID=1399"));
    QTRY_COMPARE_WITH_TIMEOUT(photos->pending(), 0, 10000);
    const auto again = responder->requestsFor("/Phonebook/GetContactPhoto.html").mid(asked);
    QSet<QByteArray> askedAgain;
    for (const auto &request : again)
        askedAgain.insert(request.query());
    QCOMPARE(askedAgain.size(), again.size());
    QVERIFY2(again.size() <= 2 * (tree->viewport()->height() / 40 + 2), qPrintable(QString::number(again.size())));
    QVERIFY(!askedAgain.contains("ContactID=1200"));
}

// The rows painted with stamps of their entry forms look, pixel for pixel,
// as the same rows did when each carried its own entry widget.
void TestMainWindowPhonebook::rowsPaintedAsTheirEntryWidgets()
{
    responder->setReply("/Phonebook/GetContactPhoto.html", pngOf(QSize(50, 50), QColor(200, 40, 90)));
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    window->resize(420, 600);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *tree = window->findChild<QTreeWidget *>("twContacts");
    TContactPhotos *photos = tree->findChild<TContactTree *>()->photos();
    QTRY_COMPARE_WITH_TIMEOUT(photos->pending(), 0, 5000);
    QTRY_VERIFY(!photos->photo(TContactTree::contactOf(contactRow(tree, QStringLiteral("Ada")))).isNull());
    tree->setCurrentItem(contactRow(tree, QStringLiteral("Babbage")));
    QTest::qWait(100);
    const QImage painted = tree->viewport()->grab().toImage();

    // The same rows, each with the entry widget the tree used to put on it.
    QList<QTreeWidgetItem *> rows;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        rows << tree->topLevelItem(i);
        for (int j = 0; j < tree->topLevelItem(i)->childCount(); ++j)
            if (!tree->itemWidget(tree->topLevelItem(i)->child(j), 0))
                rows << tree->topLevelItem(i)->child(j);
    }
    for (QTreeWidgetItem *row : std::as_const(rows)) {
        if (row->data(0, ROLE_ITEM_TYPE).toInt() == ITEM_GROUP) {
            auto *group = new TGroupWidget;
            group->setGroupName(row->data(0, ROLE_GROUP_NAME).toString());
            tree->setItemWidget(row, 0, group);
        } else {
            const TContact contact = TContactTree::contactOf(row);
            auto *entry = new TContactWidget;
            entry->setName(contact.name);
            entry->setPhoto(photos->photo(contact));
            tree->setItemWidget(row, 0, entry);
        }
    }
    tree->doItemsLayout();
    QTest::qWait(100);
    const QImage withWidgets = tree->viewport()->grab().toImage();
    if (painted != withWidgets) {
        painted.save(QStringLiteral("rows-painted.png"));
        withWidgets.save(QStringLiteral("rows-with-widgets.png"));
        QFAIL("painted rows differ from rows with entry widgets (both saved as PNG)");
    }
}

QTEST_MAIN(TestMainWindowPhonebook)
#include "tst_mainwindowphonebook.moc"
