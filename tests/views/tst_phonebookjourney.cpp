// The demo account's phonebook against the real ondavox-devserver, as a user
// goes through it: the tree after login, a contact added, edited and deleted
// (each change followed by the rebuilt tree), a text message sent and
// charged, and the balance on the credit button. And an edit of a contact
// with more phones than the editor shows, which must lose none of them.
#include "views/tlogin.h"
#include "contacttreesupport.h"
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "devserver_process.h"
#include "views/ttextdialog.h"
#include "testsupport.h"
#include "views/tcontactinfo.h"
#include "views/tcontactphotos.h"
#include "views/tcontacttree.h"
#include "views/tcontactwidget.h"
#include "views/thistorylist.h"
#include "views/tphonewidget.h"

#include <QAction>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QBuffer>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QProcess>
#include <QStandardPaths>
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
    QTreeWidgetItem *row;
    TContact contact;
};

// Every contact of the tree, by name.
QMap<QString, Shown> contactsOf(QTreeWidget *tree)
{
    QMap<QString, Shown> contacts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QString group = tree->topLevelItem(i)->data(0, ROLE_GROUP_NAME).toString();
        for (int j = 0; j < tree->topLevelItem(i)->childCount(); ++j) {
            QTreeWidgetItem *row = tree->topLevelItem(i)->child(j);
            const TContact contact = TContactTree::contactOf(row);
            contacts.insert(contact.name, {group, row, contact});
        }
    }
    return contacts;
}

QStringList linesOf(const TContact &contact)
{
    QStringList lines;
    for (const TContactPhone &phone : contact.phones)
        lines << '+' + phone.countryCode + ' ' + phone.number + ' ' + phone.type;
    return lines;
}

void choose(QTreeWidget *tree, QTreeWidgetItem *row, const QString &action)
{
    onContextMenu(tree, row, [action](QMenu *menu) { chooseInMenu(menu, action); });
}

// The service's own record of a contact, as its phonebook reply gives it.
QJsonObject storedContact(const DevServer &server, const std::string &key, const QString &name)
{
    const HttpReply reply = server.get("/Webservices/contacts.php?login=" + key);
    const QJsonArray groups = QJsonDocument::fromJson(QByteArray::fromStdString(reply.body)).object().value("result").toArray();
    for (const QJsonValue &group : groups)
        for (const QJsonValue &contact : group.toObject().value("contacts").toArray())
            if (contact.toObject().value("name").toString() == name)
                return contact.toObject();
    return QJsonObject();
}

} // namespace

class TestPhonebookJourney : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void journey();
    void editKeepsWhatTheEditorDoesNotShow();
    void photoUploadedOnTheWebReachesTheTree();

private:
    std::unique_ptr<DevServer> server;
    std::unique_ptr<SettingsSandbox> sandbox;
};

void TestPhonebookJourney::initTestCase()
{
    server = std::make_unique<DevServer>(QStringList{QStringLiteral("--log-requests")});
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
    QCOMPARE(linesOf(contacts.value(QStringLiteral("François Dubois")).contact),
             (QStringList{"+44 2079460123 Work", "+44 2079460124 Work Fax", "+44 7700900123 Mobile"}));
    const int before = contacts.size();
    QTRY_COMPARE_WITH_TIMEOUT(credit->text(), QStringLiteral("$10.00"), 5000);
    // Photos arrive (the service draws one for every contact).
    TContactPhotos *photos = tree->findChild<TContactTree *>()->photos();
    QTRY_VERIFY_WITH_TIMEOUT(!photos->photo(contacts.value(QStringLiteral("Echo test")).contact).isNull(), 10000);
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
    QCOMPARE(contacts.value(QStringLiteral("Journey Smith")).contact.company, QStringLiteral("Smith & Sons"));
    QCOMPARE(linesOf(contacts.value(QStringLiteral("Journey Smith")).contact), (QStringList{"+44 2079460999 Mobile"}));

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
    choose(tree, contacts.value(QStringLiteral("Journey Smith")).row, QStringLiteral("Edit Contact"));
    QTRY_VERIFY_WITH_TIMEOUT(contactsOf(tree).contains(QStringLiteral("Journey Jones")), 10000);
    contacts = contactsOf(tree);
    QVERIFY(!contacts.contains(QStringLiteral("Journey Smith")));
    QCOMPARE(contacts.value(QStringLiteral("Journey Jones")).group, QStringLiteral("Family"));
    QCOMPARE(linesOf(contacts.value(QStringLiteral("Journey Jones")).contact),
             (QStringList{"+44 2079460999 Mobile", "+1 4155550100 Work"}));

    // A text message to the new contact's first line, charged 6 cents.
    // Picked in the tree, the contact shows its lines.
    tree->setCurrentItem(contacts.value(QStringLiteral("Journey Jones")).row);
    auto *entry = qobject_cast<TContactWidget *>(tree->itemWidget(contacts.value(QStringLiteral("Journey Jones")).row, 0));
    QVERIFY(entry);
    TPhoneWidget *line = entry->findChildren<TPhoneWidget *>().at(0);
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
    choose(tree, contactsOf(tree).value(QStringLiteral("Journey Jones")).row, QStringLiteral("Delete Contact"));
    QTRY_VERIFY_WITH_TIMEOUT(!contactsOf(tree).contains(QStringLiteral("Journey Jones")), 10000);
    QCOMPARE(contactsOf(tree).size(), before);

    // A change the service refuses: deleting a contact that is gone.
    QString refusal;
    closeNextMessageBox(&refusal);
    emit tree->findChild<TContactTree *>()->deleteContact(999999);
    QTRY_COMPARE_WITH_TIMEOUT(refusal.isEmpty(), false, 10000);
    QCOMPARE(contactsOf(tree).size(), before);
}

// The service deletes every phone an edit does not list. A contact with five
// phones, one of a type the editor's list lacks, renamed in the editor (which
// shows three phone rows) must keep all five, with their types.
void TestPhonebookJourney::editKeepsWhatTheEditorDoesNotShow()
{
    const QString sqlite = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (sqlite.isEmpty())
        QSKIP("needs the sqlite3 program to give a stored phone an unusual type");
    const std::string key = server->login(QString::fromLatin1(kDemoEmail), QString::fromLatin1(kDemoPassword));
    QVERIFY(!key.empty());
    const HttpReply contacts = server->get("/Webservices/contacts.php?login=" + key);
    const QJsonObject firstGroup =
        QJsonDocument::fromJson(QByteArray::fromStdString(contacts.body)).object().value("result").toArray().at(0).toObject();
    const std::string groupID = firstGroup.value("id").toVariant().toString().toStdString();
    std::string body = "login=" + key + "&GroupID=" + groupID + "&Name=Many%20Phones&Title=&Company=&";
    const char *types[] = {"Home", "Work", "Mobile", "Page", "Other"};
    for (int i = 0; i < 5; ++i) {
        const std::string n = std::to_string(i);
        body += "AddContactCountryCode_" + n + "=44&Phone_" + n + "=20794600" + n + "&PhoneType_" + n + "=" + types[i] + "&";
    }
    const HttpReply added = server->post("/Phonebook/AddContactAPI.html", body);
    QVERIFY2(added.body.find("\"Success\":true") != std::string::npos, added.body.c_str());
    const QJsonObject stored = storedContact(*server, key, QStringLiteral("Many Phones"));
    QCOMPARE(stored.value("phones").toArray().size(), 5);
    // The web phonebook knows types the program's list does not.
    const QString secondPhone = stored.value("phones").toArray().at(1).toObject().value("id").toVariant().toString();
    QCOMPARE(QProcess::execute(sqlite, {server->databasePath(),
                                        QStringLiteral("UPDATE phones SET type = 'Satellite' WHERE id = %1").arg(secondPhone)}),
             0);
    QJsonArray expected = storedContact(*server, key, QStringLiteral("Many Phones")).value("phones").toArray();
    QCOMPARE(expected.at(1).toObject().value("type").toString(), QStringLiteral("Satellite"));

    std::unique_ptr<TMainWindow> window(new TMainWindow);
    setMainWindow(window.get());
    window->show();
    auto *tree = window->findChild<QTreeWidget *>("twContacts");
    QTRY_VERIFY_WITH_TIMEOUT(contactRow(tree, QStringLiteral("Many Phones")), 10000);

    QStringList shownTypes;
    onNextModal([&shownTypes](QWidget *modal) {
        auto *editor = qobject_cast<TContactInfo *>(modal);
        QVERIFY(editor);
        for (const QComboBox *type : editor->findChildren<QComboBox *>("cbType"))
            shownTypes << type->currentText();
        editor->findChild<QLineEdit *>("leName")->setText(QStringLiteral("Many Phones Renamed"));
        editor->findChild<QPushButton *>("pbSave")->click();
    });
    choose(tree, contactRow(tree, QStringLiteral("Many Phones")), QStringLiteral("Edit Contact"));
    QTRY_VERIFY_WITH_TIMEOUT(contactRow(tree, QStringLiteral("Many Phones Renamed")), 10000);
    QCOMPARE(shownTypes, (QStringList{"Home", "Satellite", "Mobile"}));

    // Every phone is still stored, unchanged: same IDs, numbers and types.
    const QJsonArray after = storedContact(*server, key, QStringLiteral("Many Phones Renamed")).value("phones").toArray();
    QCOMPARE(after, expected);
    QCOMPARE(linesOf(TContactTree::contactOf(contactRow(tree, QStringLiteral("Many Phones Renamed")))),
             (QStringList{"+44 207946000 Home", "+44 207946001 Satellite", "+44 207946002 Mobile", "+44 207946003 Page",
                          "+44 207946004 Other"}));
}

// A photo uploaded on the web phonebook page shows in the tree after the
// next phonebook download, without a new login; the photos that did not
// change are answered "not modified", without their bytes.
void TestPhonebookJourney::photoUploadedOnTheWebReachesTheTree()
{
    std::unique_ptr<TMainWindow> window(new TMainWindow);
    setMainWindow(window.get());
    window->show();
    auto *tree = window->findChild<QTreeWidget *>("twContacts");
    QTRY_VERIFY_WITH_TIMEOUT(contactRow(tree, QStringLiteral("Echo test")), 10000);
    TContactPhotos *photos = tree->findChild<TContactTree *>()->photos();
    const auto echoPhoto = [&] { return photos->photo(TContactTree::contactOf(contactRow(tree, QStringLiteral("Echo test")))); };
    QTRY_VERIFY_WITH_TIMEOUT(!echoPhoto().isNull(), 10000);
    const QRgb drawn = echoPhoto().toImage().pixel(25, 25);

    // Uploaded as the web page does it.
    const std::string key = server->login(QString::fromLatin1(kDemoEmail), QString::fromLatin1(kDemoPassword));
    QImage red(64, 64, QImage::Format_RGB32);
    red.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    red.save(&buffer, "PNG");
    auto *form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    const auto field = [form](const QByteArray &name, const QByteArray &value, const QByteArray &extra = {}) {
        QHttpPart part;
        part.setRawHeader("Content-Disposition", "form-data; name=\"" + name + '"' + extra);
        part.setBody(value);
        form->append(part);
    };
    field("login", QByteArray::fromStdString(key));
    field("ContactID", QByteArray::number(TContactTree::contactOf(contactRow(tree, QStringLiteral("Echo test"))).contactID));
    field("photo", png, "; filename=\"red.png\"");
    QNetworkAccessManager web;
    QNetworkReply *upload = web.post(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/Phonebook/UploadPhoto.html")
                                                              .arg(server->port()))),
                                     form);
    form->setParent(upload);
    QSignalSpy uploaded(upload, &QNetworkReply::finished);
    QVERIFY(uploaded.wait(10000));
    QVERIFY(upload->readAll().contains("was saved"));
    QCOMPARE(QColor(echoPhoto().toImage().pixel(25, 25)), QColor(drawn));

    // The next phonebook download, after a contact is added.
    onNextModal([](QWidget *modal) {
        auto *editor = qobject_cast<TContactInfo *>(modal);
        QVERIFY(editor);
        editor->setName(QStringLiteral("Photo Friend"));
        editor->findChild<QLineEdit *>("leCountryCode")->setText(QStringLiteral("44"));
        editor->findChild<QLineEdit *>("lePhoneNumber")->setText(QStringLiteral("2079460777"));
        editor->findChild<QPushButton *>("pbSave")->click();
    });
    window->findChild<QPushButton *>("pbAddContact")->click();
    QTRY_VERIFY_WITH_TIMEOUT(contactRow(tree, QStringLiteral("Photo Friend")), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(QColor(echoPhoto().toImage().pixel(25, 25)), QColor(Qt::red), 10000);
    QString requests;
    QTRY_VERIFY_WITH_TIMEOUT((requests += server->standardError()).contains(QStringLiteral("GetContactPhoto.html 304")), 10000);
}

QTEST_MAIN(TestPhonebookJourney)
#include "tst_phonebookjourney.moc"
