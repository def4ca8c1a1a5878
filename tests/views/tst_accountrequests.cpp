// The service client's phonebook download and its add, edit, delete, text
// and credit requests, against a loopback responder: exact bodies, the
// conversions of the replies, the "Error" and "Success" boxes, and the
// synchronous waits surviving a refresh, a logout and a second request.
#include "accounttestsupport.h"
#include "account/servicerequest.h"
#include "contacttreesupport.h"
#include "testsupport.h"
#include "views/accountmessages.h"
#include "views/tcontactinfo.h"
#include "views/tcontacttree.h"
#include "views/titemdelegate.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QNetworkReply>
#include <QTimer>
#include <QTreeWidget>

namespace {

const QByteArray Phonebook = R"({"result":[
  {"id":"1","name":"Family","contacts":[
    {"id":"11","name":"Ada","title":"Countess","company":"Engines","phones":[
      {"id":"101","countryCode":"44","phone":"2079460000","type":"Home","wholePhone":"442079460000"},
      {"id":"102","countryCode":"44","phone":"","type":"Work","wholePhone":""},
      {"id":"x7","countryCode":"1","phone":"5550100","type":"Work Fax","wholePhone":"15550100"}]},
    {"id":"12","name":"","phones":[{"id":"1","wholePhone":"1"}]},
    {"id":"abc","name":"No Id","phones":[{"id":"5","wholePhone":""}]}]},
  {"id":"2","name":"","contacts":[{"id":"21","name":"Hidden","phones":[]}]},
  {"id":7,"name":"Numbers","contacts":[{"id":31,"name":"Num","phones":[{"id":301,"countryCode":39,"phone":"06","type":"Mobile","wholePhone":"3906"}]}]},
  {"id":"8","name":"Empty group","contacts":[]}
]})";

TContact contactAt(QTreeWidget &tree, int group, int row)
{
    return TContactTree::contactOf(tree.topLevelItem(group)->child(row));
}

QString groupNameAt(QTreeWidget &tree, int group)
{
    return tree.topLevelItem(group)->data(0, ROLE_GROUP_NAME).toString();
}

void choose(QTreeWidget &tree, int group, int row, const QString &action)
{
    onContextMenu(&tree, tree.topLevelItem(group)->child(row), [action](QMenu *menu) { chooseInMenu(menu, action); });
}

TContact sampleContact()
{
    TContact contact;
    contact.contactID = 31;
    contact.groupID = QStringLiteral("7");
    contact.name = QStringLiteral("Ada & Co");
    contact.title = QStringLiteral("Dr");
    contact.company = QString();
    contact.phones.append({77, "44", "2079460000", "Work", QString()});
    contact.phones.append({0, "1", "555", "Home Fax", QString()});
    return contact;
}

} // namespace

class TestAccountRequests : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void phonebookBuildsTheTree();
    void phonebookRepliesThatKeepOrEmptyTheTree();
    void secondDownloadRebuildsFromScratch();
    void photoRequestsShareOneManager();
    void addBodyAndReload();
    void addRejectedShowsErrorAndStillReloads();
    void editBodyWithPhoneIdsAndPositions();
    void editAndDeleteFailures_data();
    void editAndDeleteFailures();
    void deleteBody();
    void editFromTheTreeRunsTheEditor();
    void refreshDuringAWaitReleasesEntriesSafely();
    void logoutDuringAWait();
    void secondRequestDuringAWait();
    void silentServiceEndsTheWait();
    void textBodyAndBoxes_data();
    void textBodyAndBoxes();
    void creditTexts_data();
    void creditTexts();
    void creditRequestsShareTheirManager();

private:
    HttpResponder *responder = nullptr;
    WebBase *base = nullptr;
    TAccount *account = nullptr;
    QTreeWidget *tree = nullptr;
};

void TestAccountRequests::init()
{
    responder = new HttpResponder;
    base = new WebBase(*responder);
    responder->setReply("/Phonebook/GetContactPhoto.html", HttpResponder::Reply{404, "", 0, false});
    account = new TAccount;
    tree = new QTreeWidget;
    tree->resize(400, 600);
    (new TContactTree(tree))->attach(account);
    showAccountMessages(account);
    QVERIFY(logIn(*account, *responder, Phonebook));
    QTRY_COMPARE(tree->topLevelItemCount(), 3);
}

void TestAccountRequests::cleanup()
{
    delete account;
    delete tree;
    delete base;
    delete responder;
}

void TestAccountRequests::phonebookBuildsTheTree()
{
    QCOMPARE(responder->requestsFor("/Webservices/contacts.php").at(0).query(), QByteArray("login=K1"));
    QCOMPARE(responder->requestsFor("/Webservices/contacts.php").at(0).method, QByteArray("GET"));

    // The group without a name goes with its contacts.
    QCOMPARE(groupNameAt(*tree, 0), QStringLiteral("Family"));
    QCOMPARE(groupNameAt(*tree, 1), QStringLiteral("Numbers"));
    QCOMPARE(tree->topLevelItem(1)->data(0, ROLE_GROUP_ID).toString(), QStringLiteral("7"));
    QCOMPARE(groupNameAt(*tree, 2), QStringLiteral("Empty group"));
    QCOMPARE(tree->topLevelItem(2)->childCount(), 0);
    QCOMPARE(account->groups().size(), 3);
    QCOMPARE(account->groups().at(1).groupName, QStringLiteral("Numbers"));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(tree->topLevelItem(i)->data(0, ROLE_ITEM_TYPE).toInt(), int(ITEM_GROUP));
    QVERIFY(tree->topLevelItem(0)->isExpanded());

    // The contact without a name is dropped.
    QTreeWidgetItem *family = tree->topLevelItem(0);
    QCOMPARE(family->childCount(), 2);
    const TContact ada = contactAt(*tree, 0, 0);
    QCOMPARE(ada.contactID, 11);
    QCOMPARE(ada.name, QStringLiteral("Ada"));
    QCOMPARE(ada.title, QStringLiteral("Countess"));
    QCOMPARE(ada.company, QStringLiteral("Engines"));
    QCOMPARE(ada.groupID, QStringLiteral("1"));
    QCOMPARE(family->child(0)->data(0, ROLE_ITEM_TYPE).toInt(), int(ITEM_CONTACT));
    QCOMPARE(family->child(0)->data(0, ROLE_EXPANDED), QVariant(false));
    // The phone without a whole number is dropped; a phone id that is not a
    // number reads 0.
    QCOMPARE(family->child(0)->data(0, ROLE_PHONE_COUNT), QVariant(2));
    QCOMPARE(ada.phones.size(), 2);
    QCOMPARE(ada.phones.at(0).phoneID, 101);
    QCOMPARE(ada.phones.at(0).wholePhone, QStringLiteral("442079460000"));
    QCOMPARE(ada.phones.at(1).phoneID, 0);
    QCOMPARE(ada.phones.at(1).type, QStringLiteral("Work Fax"));

    const TContact noId = contactAt(*tree, 0, 1);
    QCOMPARE(noId.contactID, 0);
    QCOMPARE(noId.phones.size(), 0);
    QCOMPARE(family->child(1)->data(0, ROLE_PHONE_COUNT), QVariant(0));

    // Numbers in the reply are read as their text.
    const TContact num = contactAt(*tree, 1, 0);
    QCOMPARE(num.contactID, 31);
    QCOMPARE(num.groupID, QStringLiteral("7"));
    QCOMPARE(num.phones.at(0).countryCode, QStringLiteral("39"));
    QCOMPARE(num.phones.at(0).phoneID, 301);

    // Photos are asked for once the rows are seen, with the login key.
    QVERIFY(responder->requestsFor("/Phonebook/GetContactPhoto.html").isEmpty());
    tree->show();
    QTRY_COMPARE(responder->requestsFor("/Phonebook/GetContactPhoto.html").size(), 3);
    QStringList asked;
    for (const auto &request : responder->requestsFor("/Phonebook/GetContactPhoto.html")) {
        QCOMPARE(request.body, QByteArray("login=K1"));
        asked << QString::fromLatin1(request.query());
    }
    asked.sort();
    QCOMPARE(asked, (QStringList{"ContactID=0", "ContactID=11", "ContactID=31"}));
}

void TestAccountRequests::phonebookRepliesThatKeepOrEmptyTheTree()
{
    const int before = responder->requestsFor("/Webservices/contacts.php").size();
    // "false": nothing changes.
    responder->setReply("/Webservices/contacts.php", "false");
    account->loadContacts();
    QTRY_COMPARE(responder->requestsFor("/Webservices/contacts.php").size(), before + 1);
    QTest::qWait(100);
    QCOMPARE(tree->topLevelItemCount(), 3);
    // A failed transfer says nothing about the phonebook: kept.
    responder->setReply("/Webservices/contacts.php", HttpResponder::Reply{502, "", 0, false});
    account->loadContacts();
    QTRY_COMPARE(responder->requestsFor("/Webservices/contacts.php").size(), before + 2);
    QTest::qWait(100);
    QCOMPARE(tree->topLevelItemCount(), 3);
    // An answer that is not the phonebook empties it.
    responder->setReply("/Webservices/contacts.php", "{\"groups\":[]}");
    account->loadContacts();
    QTRY_COMPARE(tree->topLevelItemCount(), 0);
    QVERIFY(account->groups().isEmpty());
}

void TestAccountRequests::secondDownloadRebuildsFromScratch()
{
    responder->setReply("/Webservices/contacts.php", R"({"result":[{"id":"5","name":"Only","contacts":[{"id":"50","name":"One","phones":[]}]}]})");
    account->loadContacts();
    QTRY_COMPARE(tree->topLevelItemCount(), 1);
    QCOMPARE(shownContacts(tree), QStringList{"Only: One"});
    QCOMPARE(account->groups().size(), 1);
}

void TestAccountRequests::photoRequestsShareOneManager()
{
    // Every photo goes through the account's one photo manager, none
    // through a manager of its own.
    responder->setReply("/Phonebook/GetContactPhoto.html", HttpResponder::Reply{404, "", 500, false});
    tree->show();
    QTRY_COMPARE(account->photoManager()->findChildren<QNetworkReply *>().size(), 3);
    QCOMPARE(tree->findChildren<QNetworkAccessManager *>().size(), 0);
}

void TestAccountRequests::addBodyAndReload()
{
    responder->setReply("/Phonebook/AddContactAPI.html", R"({"Success":true,"Error":"","ContactID":"55"})");
    const int loads = responder->requestsFor("/Webservices/contacts.php").size();
    account->addNewContact(sampleContact());
    // Synchronous: the request has been answered when the call returns, and
    // the reload is on its way.
    const auto requests = responder->requestsFor("/Phonebook/AddContactAPI.html");
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).method, QByteArray("POST"));
    QCOMPARE(requests.at(0).headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(requests.at(0).body,
             QByteArray("login=K1&GroupID=7&Name=Ada%20%26%20Co&Title=Dr&Company=&"
                        "AddContactCountryCode_0=44&Phone_0=2079460000&PhoneType_0=Work&"
                        "AddContactCountryCode_1=1&Phone_1=555&PhoneType_1=Home%20Fax&"));
    QTRY_COMPARE(responder->requestsFor("/Webservices/contacts.php").size(), loads + 1);
}

void TestAccountRequests::addRejectedShowsErrorAndStillReloads()
{
    const int loads = responder->requestsFor("/Webservices/contacts.php").size();
    responder->setReply("/Phonebook/AddContactAPI.html", R"({"Success":false,"Error":"A contact needs a name."})");
    QString message;
    closeNextMessageBox(&message);
    account->addNewContact(sampleContact());
    QCOMPARE(message, QStringLiteral("A contact needs a name."));
    QTRY_COMPARE(responder->requestsFor("/Webservices/contacts.php").size(), loads + 1);

    // "false": no box, still a reload.
    responder->setReply("/Phonebook/AddContactAPI.html", "false");
    account->addNewContact(sampleContact());
    QTRY_COMPARE(responder->requestsFor("/Webservices/contacts.php").size(), loads + 2);
}

void TestAccountRequests::editBodyWithPhoneIdsAndPositions()
{
    responder->setReply("/Phonebook/EditContactAPI.html", R"({"Success":true,"Error":""})");
    const int loads = responder->requestsFor("/Webservices/contacts.php").size();
    TContact contact = sampleContact();
    contact.phones.append({0, "39", "06", "Other", QString()});
    account->updateContact(contact);
    QCOMPARE(responder->requestsFor("/Phonebook/EditContactAPI.html").at(0).body,
             QByteArray("login=K1&GroupID=7&Name=Ada%20%26%20Co&Title=Dr&Company=&ContactID=31&"
                        "AddContactCountryCode_77_0=44&Phone_77_0=2079460000&PhoneType_77_0=Work&"
                        "AddContactCountryCode_0_1=1&Phone_0_1=555&PhoneType_0_1=Home%20Fax&"
                        "AddContactCountryCode_0_2=39&Phone_0_2=06&PhoneType_0_2=Other&"));
    QTRY_COMPARE(responder->requestsFor("/Webservices/contacts.php").size(), loads + 1);
    QTest::qWait(100);
    QCOMPARE(responder->requestsFor("/Webservices/contacts.php").size(), loads + 1);

    // No phones, no phone fields.
    TContact bare = sampleContact();
    bare.phones.clear();
    bare.groupID.clear();
    account->updateContact(bare);
    QCOMPARE(responder->requestsFor("/Phonebook/EditContactAPI.html").at(1).body,
             QByteArray("login=K1&GroupID=&Name=Ada%20%26%20Co&Title=Dr&Company=&ContactID=31&"));
}

void TestAccountRequests::editAndDeleteFailures_data()
{
    QTest::addColumn<bool>("edit");
    QTest::addColumn<HttpResponder::Reply>("reply");
    QTest::addColumn<QString>("message");
    const QString unreadable = QStringLiteral("The Ondavox service sent an answer that cannot be read. Please try again later.");
    for (bool edit : {true, false}) {
        const QByteArray kind = edit ? "edit: " : "delete: ";
        QTest::newRow(kind + "false") << edit << HttpResponder::Reply{200, "false", 0, false} << QString();
        QTest::newRow(kind + "refused") << edit << HttpResponder::Reply{200, R"({"Success":false,"Error":"Unknown contact."})", 0, false}
                                        << QStringLiteral("Unknown contact.");
        QTest::newRow(kind + "no Success") << edit << HttpResponder::Reply{200, R"({"Error":"Later."})", 0, false} << QStringLiteral("Later.");
        QTest::newRow(kind + "not JSON") << edit << HttpResponder::Reply{200, "<html>", 0, false} << unreadable;
        QTest::newRow(kind + "connection dropped") << edit << HttpResponder::Reply{200, "", 0, true}
                                                   << QStringLiteral("The Ondavox service cannot be reached");
        QTest::newRow(kind + "server error") << edit << HttpResponder::Reply{500, "", 0, false}
                                             << QStringLiteral("The Ondavox service cannot be reached");
    }
}

void TestAccountRequests::editAndDeleteFailures()
{
    QFETCH(bool, edit);
    QFETCH(HttpResponder::Reply, reply);
    QFETCH(QString, message);
    const QByteArray path = edit ? "/Phonebook/EditContactAPI.html" : "/Phonebook/DeleteContact.html";
    responder->setReply(path, reply);
    const int loads = responder->requestsFor("/Webservices/contacts.php").size();
    QString shown;
    if (!message.isEmpty())
        closeNextMessageBox(&shown);
    if (edit)
        account->updateContact(sampleContact());
    else
        QMetaObject::invokeMethod(account, "onDeleteContact", Q_ARG(int, 31));
    // (The network layer sends a POST once more when the connection drops
    // before any answer.)
    QVERIFY(!responder->requestsFor(path).isEmpty());
    if (!message.isEmpty())
        QVERIFY2(shown.startsWith(message), qPrintable(shown));
    QTest::qWait(100);
    // No reload after a change that did not go through.
    QCOMPARE(responder->requestsFor("/Webservices/contacts.php").size(), loads);
}

void TestAccountRequests::deleteBody()
{
    responder->setReply("/Phonebook/DeleteContact.html", R"({"Success":true,"Error":""})");
    const int loads = responder->requestsFor("/Webservices/contacts.php").size();
    // From the entry's own menu, through its question.
    onNextModal([](QWidget *modal) { qobject_cast<QMessageBox *>(modal)->button(QMessageBox::Yes)->click(); });
    choose(*tree, 1, 0, QStringLiteral("Delete Contact"));
    QVERIFY(responder->waitForRequest("/Phonebook/DeleteContact.html"));
    QCOMPARE(responder->requestsFor("/Phonebook/DeleteContact.html").at(0).body, QByteArray("login=K1&ContactID=31&"));
    QTRY_COMPARE(responder->requestsFor("/Webservices/contacts.php").size(), loads + 1);

    // Answering No sends nothing.
    onNextModal([](QWidget *modal) { qobject_cast<QMessageBox *>(modal)->button(QMessageBox::No)->click(); });
    choose(*tree, 0, 0, QStringLiteral("Delete Contact"));
    QTest::qWait(300);
    QCOMPARE(responder->requestsFor("/Phonebook/DeleteContact.html").size(), 1);
}

void TestAccountRequests::editFromTheTreeRunsTheEditor()
{
    responder->setReply("/Phonebook/EditContactAPI.html", R"({"Success":true,"Error":""})");
    QStringList seen;
    onNextModal([&seen](QWidget *modal) {
        auto *editor = qobject_cast<TContactInfo *>(modal);
        QVERIFY(editor);
        auto *groups = editor->findChild<QComboBox *>("cbGroup");
        seen << groups->currentText() << QString::number(groups->count()) << editor->findChild<QLineEdit *>("leName")->text()
             << QString::number(editor->phoneRowCount());
        editor->findChild<QLineEdit *>("leName")->setText(QStringLiteral("Ada King"));
        editor->findChild<QPushButton *>("pbSave")->click();
    });
    choose(*tree, 0, 0, QStringLiteral("Edit Contact"));
    QVERIFY(responder->waitForRequest("/Phonebook/EditContactAPI.html"));
    QCOMPARE(seen, (QStringList{"Family", "3", "Ada", "2"}));
    QCOMPARE(responder->requestsFor("/Phonebook/EditContactAPI.html").at(0).body,
             QByteArray("login=K1&GroupID=1&Name=Ada%20King&Title=Countess&Company=Engines&ContactID=11&"
                        "AddContactCountryCode_101_0=44&Phone_101_0=2079460000&PhoneType_101_0=Home&"
                        "AddContactCountryCode_0_1=1&Phone_0_1=5550100&PhoneType_0_1=Work%20Fax&"));

    // Cancelled: nothing is sent.
    onNextModal([](QWidget *modal) { qobject_cast<QDialog *>(modal)->reject(); });
    choose(*tree, 1, 0, QStringLiteral("Edit Contact"));
    QTest::qWait(300);
    QCOMPARE(responder->requestsFor("/Phonebook/EditContactAPI.html").size(), 1);
}

// The phonebook is rebuilt while a delete started from an entry waits: the
// entry and its group go, nothing crashes, and the reload still follows.
void TestAccountRequests::refreshDuringAWaitReleasesEntriesSafely()
{
    responder->setReply("/Phonebook/DeleteContact.html", HttpResponder::Reply{200, R"({"Success":true,"Error":""})", 600, false});
    responder->setReply("/Webservices/contacts.php", R"({"result":[{"id":"9","name":"After","contacts":[{"id":"90","name":"New","phones":[]}]}]})");
    tree->show();
    const int loads = responder->requestsFor("/Webservices/contacts.php").size();
    onNextModal([](QWidget *modal) { qobject_cast<QMessageBox *>(modal)->button(QMessageBox::Yes)->click(); });
    choose(*tree, 0, 0, QStringLiteral("Delete Contact"));
    QVERIFY(responder->waitForRequest("/Phonebook/DeleteContact.html"));
    account->loadContacts(); // answered while the delete still waits
    QTRY_COMPARE(responder->requestsFor("/Webservices/contacts.php").size(), loads + 2);
    QTRY_COMPARE(shownContacts(tree), QStringList{"After: New"});
}

// The account goes (a logout) while an add waits: the wait ends, nothing of
// the account is touched afterwards.
void TestAccountRequests::logoutDuringAWait()
{
    responder->setReply("/Phonebook/AddContactAPI.html", HttpResponder::Reply{200, R"({"Success":true})", 2000, false});
    QPointer<TAccount> gone = account;
    QTimer::singleShot(200, account, [this] {
        account->deleteLater();
        account = nullptr;
    });
    gone->addNewContact(sampleContact());
    QVERIFY(!gone);
    QVERIFY(!account);
}

void TestAccountRequests::secondRequestDuringAWait()
{
    responder->setReply("/Phonebook/AddContactAPI.html", HttpResponder::Reply{200, R"({"Success":true,"ContactID":1})", 400, false});
    responder->setReply("/Phonebook/DeleteContact.html", HttpResponder::Reply{200, R"({"Success":true})", 100, false});
    const int loads = responder->requestsFor("/Webservices/contacts.php").size();
    bool secondDone = false;
    QTimer::singleShot(50, account, [this, &secondDone] {
        QMetaObject::invokeMethod(account, "onDeleteContact", Q_ARG(int, 11));
        secondDone = true;
    });
    account->addNewContact(sampleContact());
    QVERIFY(secondDone);
    QCOMPARE(responder->requestsFor("/Phonebook/AddContactAPI.html").size(), 1);
    QCOMPARE(responder->requestsFor("/Phonebook/DeleteContact.html").size(), 1);
    QTRY_COMPARE(responder->requestsFor("/Webservices/contacts.php").size(), loads + 2);
}

// A service that never answers: the transfer time-out ends the wait as a
// failure the user is told about, and the phonebook is not reloaded.
void TestAccountRequests::silentServiceEndsTheWait()
{
    responder->setReply("/Phonebook/DeleteContact.html", HttpResponder::Reply{200, R"({"Success":true})", 60000, false});
    const int loads = responder->requestsFor("/Webservices/contacts.php").size();
    QString message;
    onNextModal(
        [&message](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            message = box->text();
            box->accept();
        },
        ServiceRequest::TransferTimeoutMs + 20000);
    QElapsedTimer clock;
    clock.start();
    QMetaObject::invokeMethod(account, "onDeleteContact", Q_ARG(int, 11));
    QVERIFY(clock.elapsed() >= ServiceRequest::TransferTimeoutMs - 1000);
    QVERIFY(clock.elapsed() < ServiceRequest::TransferTimeoutMs + 10000);
    QCOMPARE(message, QStringLiteral("The Ondavox service cannot be reached: the service did not answer in time. "
                                     "Please check your connection and try again."));
    QCOMPARE(responder->requestsFor("/Webservices/contacts.php").size(), loads);
}

void TestAccountRequests::textBodyAndBoxes_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("box");
    QTest::newRow("sent") << QByteArray(R"({"Success":true,"Error":""})") << QStringLiteral("Success|Text message successfully sent");
    QTest::newRow("refused") << QByteArray(R"({"Success":false,"Error":"Your credit is too low."})")
                             << QStringLiteral("Error|Your credit is too low.");
    QTest::newRow("no Success, no Error") << QByteArray(R"({})") << QStringLiteral("Error|");
    QTest::newRow("false") << QByteArray("false") << QString();
}

void TestAccountRequests::textBodyAndBoxes()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, box);
    responder->setReply("/Phonebook/Text.html", reply);
    QString shown;
    if (!box.isEmpty()) {
        onNextModal([&shown](QWidget *modal) {
            auto *messageBox = qobject_cast<QMessageBox *>(modal);
            shown = messageBox->windowTitle() + '|' + messageBox->text();
            messageBox->accept();
        });
    }
    account->sendTextMessage(QString(), QStringLiteral("555 0100"), QStringLiteral("Grüße & ☺=1"));
    QVERIFY(responder->waitForRequest("/Phonebook/Text.html"));
    QCOMPARE(responder->requestsFor("/Phonebook/Text.html").at(0).body,
             QByteArray("login=K1&TextCountryCode=&TextPhone=555%200100&SMSText=Gr%FC%DFe%20%26%20%3F%3D1"));
    if (box.isEmpty()) {
        QTest::qWait(300);
        QVERIFY(!QApplication::activeModalWidget());
    } else {
        QTRY_COMPARE(shown, box);
    }
}

void TestAccountRequests::creditTexts_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("amount");
    QTest::newRow("number 12.50") << QByteArray(R"({"Credit":12.50})") << "12.5";
    QTest::newRow("number 10") << QByteArray(R"({"Credit":10})") << "10";
    QTest::newRow("text 12.50") << QByteArray(R"({"Credit":"12.50"})") << "12.50";
    QTest::newRow("false") << QByteArray("false") << "";
    QTest::newRow("missing") << QByteArray(R"({"Balance":3})") << "";
    QTest::newRow("body then NUL") << QByteArray("{\"Credit\":\"1.00\"}\0junk", 22) << "1.00";
}

void TestAccountRequests::creditTexts()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, amount);
    responder->setReply("/Credit/GetCredit.html", reply);
    QSignalSpy updated(account, &TAccount::creditUpdated);
    account->getCreditBallance();
    QVERIFY(updated.wait(5000));
    QCOMPARE(updated.at(0).at(0).toString(), amount);
    QCOMPARE(responder->requestsFor("/Credit/GetCredit.html").at(0).body, QByteArray("login=K1&"));
}

void TestAccountRequests::creditRequestsShareTheirManager()
{
    responder->setReply("/Credit/GetCredit.html", R"({"Credit":"5.00"})");
    QSignalSpy updated(account, &TAccount::creditUpdated);
    // Asked again while the answer is on its way: still one request.
    for (int i = 0; i < 5; ++i)
        account->getCreditBallance();
    QTRY_COMPARE(updated.size(), 1);
    QTest::qWait(100);
    QCOMPARE(responder->requestsFor("/Credit/GetCredit.html").size(), 1);
    // A failed transfer keeps the last balance shown: no signal.
    responder->setReply("/Credit/GetCredit.html", HttpResponder::Reply{200, "", 0, true});
    account->getCreditBallance();
    QTRY_VERIFY(responder->requestsFor("/Credit/GetCredit.html").size() >= 2);
    QTest::qWait(300);
    QCOMPARE(updated.size(), 1);
}

QTEST_MAIN(TestAccountRequests)
#include "tst_accountrequests.moc"
