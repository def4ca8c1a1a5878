// The web API of ondavox-devserver in the exact shapes the softphone reads.
#include "devserver_process.h"

#include <QCryptographicHash>
#include <QImage>
#include <QJsonArray>
#include <QRegularExpression>
#include <QtTest>

namespace {

QJsonObject findContact(const QJsonObject &phonebook, const QString &name, QString *groupId = nullptr)
{
    for (const QJsonValue &group : phonebook.value(QStringLiteral("result")).toArray()) {
        for (const QJsonValue &contact : group.toObject().value(QStringLiteral("contacts")).toArray()) {
            if (contact.toObject().value(QStringLiteral("name")).toString() == name) {
                if (groupId)
                    *groupId = group.toObject().value(QStringLiteral("id")).toString();
                return contact.toObject();
            }
        }
    }
    return {};
}

QString groupIdNamed(const QJsonObject &phonebook, const QString &name)
{
    for (const QJsonValue &group : phonebook.value(QStringLiteral("result")).toArray()) {
        if (group.toObject().value(QStringLiteral("name")).toString() == name)
            return group.toObject().value(QStringLiteral("id")).toString();
    }
    return {};
}

QStringList keysOf(const QJsonObject &o)
{
    QStringList keys = o.keys();
    keys.sort();
    return keys;
}

} // namespace

class DevServerApiTest : public QObject {
    Q_OBJECT

private:
    DevServer server_;
    std::string key_;

    QJsonObject phonebook()
    {
        const HttpReply reply = server_.get("/Webservices/contacts.php?login=" + key_);
        bool ok = false;
        const QJsonObject o = reply.object(&ok);
        if (!ok)
            qWarning() << "phonebook reply not an object:" << reply.text();
        return o;
    }

    QJsonObject change(const char *path, const std::vector<std::pair<std::string, QString>> &pairs)
    {
        auto all = pairs;
        all.insert(all.begin(), {"login", QString::fromStdString(key_)});
        const HttpReply reply = server_.post(path, formBody(all));
        bool ok = false;
        const QJsonObject o = reply.object(&ok);
        if (!ok || !reply.isAscii())
            qWarning() << "change reply not an ASCII JSON object:" << reply.text();
        return o;
    }

    std::string credit()
    {
        return server_.post("/Credit/GetCredit.html", "login=" + key_ + "&")
            .object()
            .value(QStringLiteral("Credit"))
            .toString()
            .toStdString();
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(server_.start(&error), qPrintable(error));
        key_ = server_.login(QString::fromLatin1(kDemoEmail), QString::fromLatin1(kDemoPassword));
        QVERIFY(!key_.empty());
    }

    void cleanupTestCase() { QCOMPARE(server_.stop(), 0); }

    void loginAnswersTheIaxCredentialsAndAFreshKey()
    {
        const HttpReply reply = server_.get("/Webservices/login.php?email=demo%40ondavox.com&password=ondavox-demo");
        bool ok = false;
        const QJsonObject o = reply.object(&ok);
        QVERIFY(ok);
        QVERIFY(reply.isAscii());
        QCOMPARE(keysOf(o), (QStringList{"Key", "Password", "Username"}));
        QCOMPARE(o.value("Username").toString(), QStringLiteral("1000"));
        QCOMPARE(o.value("Password").toString(), QStringLiteral("s3cret-1000"));
        const QString key = o.value("Key").toString();
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(key).hasMatch());
        QVERIFY(key.toStdString() != key_);
        // Both keys stay valid: each login is a session of its own.
        QVERIFY(!server_.post("/Credit/GetCredit.html", "login=" + key.toStdString() + "&").isFalse());
        QVERIFY(!server_.post("/Credit/GetCredit.html", "login=" + key_ + "&").isFalse());
    }

    void loginAcceptsTheDigestOfTheAutomaticLogin()
    {
        const QString digest = QString::fromLatin1(
            QCryptographicHash::hash(QByteArray(kDemoPassword), QCryptographicHash::Md5).toHex());
        QVERIFY(!server_.login(QString::fromLatin1(kDemoEmail), digest).empty());
        // The e-mail is matched without regard to case and surrounding blanks.
        QVERIFY(!server_.login(QStringLiteral(" Demo@OndaVox.com "), QString::fromLatin1(kDemoPassword)).empty());
    }

    void loginRefusesWithFalse_data()
    {
        QTest::addColumn<QString>("query");
        QTest::newRow("wrong password") << "email=demo%40ondavox.com&password=ondavox";
        QTest::newRow("digest of another password")
            << "email=demo%40ondavox.com&password=" +
                   QString::fromLatin1(QCryptographicHash::hash("x", QCryptographicHash::Md5).toHex());
        QTest::newRow("digest in capitals") << "email=demo%40ondavox.com&password=" +
                                                   QString::fromLatin1(QCryptographicHash::hash(
                                                       kDemoPassword, QCryptographicHash::Md5).toHex()).toUpper();
        QTest::newRow("unknown e-mail") << "email=nobody%40ondavox.com&password=ondavox-demo";
        QTest::newRow("empty password") << "email=demo%40ondavox.com&password=";
        QTest::newRow("nothing") << "";
    }

    void loginRefusesWithFalse()
    {
        QFETCH(QString, query);
        const HttpReply reply = server_.get("/Webservices/login.php?" + query.toStdString());
        QVERIFY(reply.transportOk);
        QCOMPARE(reply.body, std::string("false"));
    }

    void everyKeyedRequestAnswersFalseWithoutAValidKey_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("body");
        for (const char *key : {"", "0123456789abcdef0123456789abcdef"}) {
            const QString login = QStringLiteral("login=") + key + "&";
            const QString tag = *key ? QStringLiteral(" unknown key") : QStringLiteral(" no key");
            QTest::newRow(qPrintable("contacts" + tag)) << "GET" << "/Webservices/contacts.php?" + login << "";
            QTest::newRow(qPrintable("add" + tag)) << "POST" << "/Phonebook/AddContactAPI.html"
                                                   << login + "GroupID=1&Name=X&Title=&Company=&AddContactCountryCode_0=1&Phone_0=2&PhoneType_0=Home&";
            QTest::newRow(qPrintable("edit" + tag)) << "POST" << "/Phonebook/EditContactAPI.html"
                                                    << login + "GroupID=1&Name=X&Title=&Company=&ContactID=1&";
            QTest::newRow(qPrintable("delete" + tag)) << "POST" << "/Phonebook/DeleteContact.html"
                                                      << login + "ContactID=1&";
            QTest::newRow(qPrintable("history" + tag)) << "POST" << "/History/PlacedCallsDataAPI.html" << login;
            QTest::newRow(qPrintable("credit" + tag)) << "POST" << "/Credit/GetCredit.html" << login;
            QTest::newRow(qPrintable("text" + tag)) << "POST" << "/Phonebook/Text.html"
                                                    << login + "TextCountryCode=49&TextPhone=1511&SMSText=hi";
        }
    }

    void everyKeyedRequestAnswersFalseWithoutAValidKey()
    {
        QFETCH(QString, method);
        QFETCH(QString, path);
        QFETCH(QString, body);
        const HttpReply reply = method == "GET" ? server_.get(path.toStdString())
                                                : server_.post(path.toStdString(), body.toStdString());
        QVERIFY(reply.transportOk);
        QCOMPARE(reply.body, std::string("false"));
    }

    void phonebookHasTheDocumentedShape()
    {
        const HttpReply reply = server_.get("/Webservices/contacts.php?login=" + key_);
        QVERIFY(reply.isAscii());
        bool ok = false;
        const QJsonObject o = reply.object(&ok);
        QVERIFY(ok);
        QCOMPARE(o.keys(), QStringList{"result"});
        const QJsonArray groups = o.value("result").toArray();
        QStringList groupNames;
        bool someGroupEmpty = false;
        for (const QJsonValue &g : groups) {
            const QJsonObject group = g.toObject();
            QCOMPARE(keysOf(group), (QStringList{"contacts", "id", "name"}));
            QVERIFY(!group.value("id").toString().isEmpty());
            groupNames << group.value("name").toString();
            someGroupEmpty |= group.value("contacts").toArray().isEmpty();
            for (const QJsonValue &c : group.value("contacts").toArray()) {
                const QJsonObject contact = c.toObject();
                QCOMPARE(keysOf(contact), (QStringList{"company", "id", "name", "phones", "title"}));
                QVERIFY(contact.value("id").toString().toInt() > 0);
                const QJsonArray phones = contact.value("phones").toArray();
                QVERIFY(phones.size() >= 1 && phones.size() <= 3);
                for (const QJsonValue &p : phones) {
                    const QJsonObject phone = p.toObject();
                    QCOMPARE(keysOf(phone), (QStringList{"countryCode", "id", "phone", "type", "wholePhone"}));
                    QCOMPARE(phone.value("wholePhone").toString(),
                             phone.value("countryCode").toString() + phone.value("phone").toString());
                    QVERIFY(QStringList({"Home", "Work", "Mobile", "Home Fax", "Work Fax", "Page", "Other"})
                                .contains(phone.value("type").toString()));
                }
            }
        }
        QCOMPARE(groupNames, (QStringList{"Family", "Work", "Friends"}));
        QVERIFY(someGroupEmpty);

        const QJsonObject echo = findContact(o, QStringLiteral("Echo test"));
        const QJsonArray echoPhones = echo.value("phones").toArray();
        QCOMPARE(echoPhones.size(), 1);
        QCOMPARE(echoPhones[0].toObject().value("countryCode").toString(), QString());
        QCOMPARE(echoPhones[0].toObject().value("wholePhone").toString(), QStringLiteral("999"));
        QVERIFY(!findContact(o, QString::fromUtf8("Zoë Müller")).isEmpty());
    }

    void contactWithAccentsAndSignsSurvivesTheRoundTrip()
    {
        const QString groupId = groupIdNamed(phonebook(), QStringLiteral("Friends"));
        const QString name = QString::fromUtf8("Zoë Ärger-Ñandú");
        const QString title = QString::fromUtf8("R&D = 100% + ½");
        const QJsonObject added = change("/Phonebook/AddContactAPI.html",
                                         {{"GroupID", groupId},
                                          {"Name", name},
                                          {"Title", title},
                                          {"Company", QString::fromUtf8("Café #1")},
                                          {"AddContactCountryCode_0", "49"},
                                          {"Phone_0", "15199887766"},
                                          {"PhoneType_0", "Mobile"},
                                          {"AddContactCountryCode_1", "44"},
                                          {"Phone_1", "2071234567"},
                                          {"PhoneType_1", "Work Fax"}});
        QCOMPARE(keysOf(added), (QStringList{"ContactID", "Error", "Success"}));
        QCOMPARE(added.value("Success").toBool(), true);
        QCOMPARE(added.value("Error").toString(), QString());
        const int contactId = added.value("ContactID").toInt();
        QVERIFY(contactId > 0);

        QString foundGroup;
        const QJsonObject contact = findContact(phonebook(), name, &foundGroup);
        QCOMPARE(contact.value("id").toString().toInt(), contactId);
        QCOMPARE(foundGroup, groupId);
        QCOMPARE(contact.value("title").toString(), title);
        QCOMPARE(contact.value("company").toString(), QString::fromUtf8("Café #1"));
        const QJsonArray phones = contact.value("phones").toArray();
        QCOMPARE(phones.size(), 2);
        QCOMPARE(phones[0].toObject().value("wholePhone").toString(), QStringLiteral("4915199887766"));
        QCOMPARE(phones[0].toObject().value("type").toString(), QStringLiteral("Mobile"));
        QCOMPARE(phones[1].toObject().value("countryCode").toString(), QStringLiteral("44"));
        QCOMPARE(phones[1].toObject().value("phone").toString(), QStringLiteral("2071234567"));
        QCOMPARE(phones[1].toObject().value("type").toString(), QStringLiteral("Work Fax"));
    }

    void addRefusesWithAClearError_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("error");
        QTest::newRow("unknown group") << "987654" << "A" << "123" << "Home" << "Unknown group.";
        QTest::newRow("group of letters") << "abc" << "A" << "123" << "Home" << "Unknown group.";
        QTest::newRow("no group") << "" << "A" << "123" << "Home" << "Please choose a group for the contact.";
        QTest::newRow("blank name") << "GROUP" << "   " << "123" << "Home" << "Please enter a name.";
        QTest::newRow("no phone") << "GROUP" << "A" << "" << "Home" << "Please enter at least one phone number.";
        QTest::newRow("letters in number") << "GROUP" << "A" << "12a" << "Home"
                                           << "Phone numbers may contain digits only.";
        QTest::newRow("unknown type") << "GROUP" << "A" << "123" << "Fax" << "Unknown phone type \"Fax\".";
    }

    void addRefusesWithAClearError()
    {
        QFETCH(QString, group);
        QFETCH(QString, name);
        QFETCH(QString, number);
        QFETCH(QString, type);
        QFETCH(QString, error);
        if (group == "GROUP")
            group = groupIdNamed(phonebook(), QStringLiteral("Work"));
        const int before = phonebook().value("result").toArray()[1].toObject().value("contacts").toArray().size();
        const QJsonObject reply = change("/Phonebook/AddContactAPI.html",
                                         {{"GroupID", group}, {"Name", name}, {"Title", ""}, {"Company", ""},
                                          {"AddContactCountryCode_0", "1"}, {"Phone_0", number},
                                          {"PhoneType_0", type}});
        QCOMPARE(reply.value("Success").toBool(true), false);
        QCOMPARE(reply.value("Error").toString(), error);
        QCOMPARE(reply.value("ContactID").toInt(-1), 0);
        const int after = phonebook().value("result").toArray()[1].toObject().value("contacts").toArray().size();
        QCOMPARE(after, before);
    }

    void editKeepsReordersAddsAndRemovesPhones()
    {
        const QString family = groupIdNamed(phonebook(), QStringLiteral("Family"));
        const QString work = groupIdNamed(phonebook(), QStringLiteral("Work"));
        const QJsonObject added = change("/Phonebook/AddContactAPI.html",
                                         {{"GroupID", family}, {"Name", "Edit Me"}, {"Title", ""}, {"Company", ""},
                                          {"AddContactCountryCode_0", "1"}, {"Phone_0", "111"}, {"PhoneType_0", "Home"},
                                          {"AddContactCountryCode_1", "1"}, {"Phone_1", "222"}, {"PhoneType_1", "Work"},
                                          {"AddContactCountryCode_2", "1"}, {"Phone_2", "333"}, {"PhoneType_2", "Mobile"}});
        const QString contactId = QString::number(added.value("ContactID").toInt());
        const QJsonArray before = findContact(phonebook(), "Edit Me").value("phones").toArray();
        QCOMPARE(before.size(), 3);
        const QString id111 = before[0].toObject().value("id").toString();
        const QString id333 = before[2].toObject().value("id").toString();

        // 333 moves to the top and changes, 111 stays second, 222 is not sent, a new one comes third.
        const QJsonObject edited = change("/Phonebook/EditContactAPI.html",
                                          {{"GroupID", work}, {"Name", QString::fromUtf8("Édith Moved")},
                                           {"Title", "Boss"}, {"Company", "ACME"}, {"ContactID", contactId},
                                           {"AddContactCountryCode_" + id333.toStdString() + "_0", "44"},
                                           {"Phone_" + id333.toStdString() + "_0", "3334"},
                                           {"PhoneType_" + id333.toStdString() + "_0", "Page"},
                                           {"AddContactCountryCode_" + id111.toStdString() + "_1", "1"},
                                           {"Phone_" + id111.toStdString() + "_1", "111"},
                                           {"PhoneType_" + id111.toStdString() + "_1", "Home"},
                                           {"AddContactCountryCode_0_2", "49"},
                                           {"Phone_0_2", "444"},
                                           {"PhoneType_0_2", "Other"}});
        QCOMPARE(keysOf(edited), (QStringList{"Error", "Success"}));
        QCOMPARE(edited.value("Success").toBool(), true);

        QString group;
        const QJsonObject contact = findContact(phonebook(), QString::fromUtf8("Édith Moved"), &group);
        QCOMPARE(group, work);
        QCOMPARE(contact.value("id").toString(), contactId);
        QCOMPARE(contact.value("title").toString(), QStringLiteral("Boss"));
        const QJsonArray phones = contact.value("phones").toArray();
        QCOMPARE(phones.size(), 3);
        QCOMPARE(phones[0].toObject().value("id").toString(), id333);
        QCOMPARE(phones[0].toObject().value("wholePhone").toString(), QStringLiteral("443334"));
        QCOMPARE(phones[0].toObject().value("type").toString(), QStringLiteral("Page"));
        QCOMPARE(phones[1].toObject().value("id").toString(), id111);
        QCOMPARE(phones[2].toObject().value("wholePhone").toString(), QStringLiteral("49444"));
        QVERIFY(phones[2].toObject().value("id").toString().toInt() > 0);
        QVERIFY(findContact(phonebook(), "Edit Me").isEmpty());
    }

    void editRefusesWithAClearError()
    {
        const QJsonObject book = phonebook();
        const QString work = groupIdNamed(book, QStringLiteral("Work"));
        const QJsonObject zoe = findContact(book, QString::fromUtf8("Zoë Müller"));
        const QJsonObject jens = findContact(book, QString::fromUtf8("Jens Østergård"));
        const std::string jensPhone = jens.value("phones").toArray()[0].toObject().value("id").toString().toStdString();

        auto edit = [&](const QString &contactId, const std::string &phoneKey, const QString &group) {
            return change("/Phonebook/EditContactAPI.html",
                          {{"GroupID", group}, {"Name", "Changed"}, {"Title", ""}, {"Company", ""},
                           {"ContactID", contactId}, {"AddContactCountryCode_" + phoneKey, "1"},
                           {"Phone_" + phoneKey, "5"}, {"PhoneType_" + phoneKey, "Home"}});
        };
        QCOMPARE(edit("999999", "0_0", work).value("Error").toString(), QStringLiteral("Unknown contact."));
        QCOMPARE(edit("", "0_0", work).value("Error").toString(), QStringLiteral("Unknown contact."));
        QCOMPARE(edit(zoe.value("id").toString(), "0_0", "424242").value("Error").toString(),
                 QStringLiteral("Unknown group."));
        // A phone of another contact cannot be taken over.
        const QJsonObject stolen = edit(zoe.value("id").toString(), jensPhone + "_0", work);
        QCOMPARE(stolen.value("Success").toBool(true), false);
        QVERIFY(stolen.value("Error").toString().startsWith(QStringLiteral("Unknown phone")));
        // Nothing changed.
        QVERIFY(!findContact(phonebook(), QString::fromUtf8("Zoë Müller")).isEmpty());
        QCOMPARE(findContact(phonebook(), QString::fromUtf8("Jens Østergård")).value("phones").toArray().size(), 1);
    }

    void deleteRemovesTheContactAndItsPhoto()
    {
        const QString friends = groupIdNamed(phonebook(), QStringLiteral("Friends"));
        const QString id = QString::number(
            change("/Phonebook/AddContactAPI.html",
                   {{"GroupID", friends}, {"Name", "Short Lived"}, {"Title", ""}, {"Company", ""},
                    {"AddContactCountryCode_0", "1"}, {"Phone_0", "5550000"}, {"PhoneType_0", "Home"}})
                .value("ContactID")
                .toInt());
        const std::string photoPath = "/Phonebook/GetContactPhoto.html?ContactID=" + id.toStdString();
        QCOMPARE(server_.post(photoPath, "login=" + key_ + "&").status, 200);

        const QJsonObject deleted = change("/Phonebook/DeleteContact.html", {{"ContactID", id}});
        QCOMPARE(keysOf(deleted), (QStringList{"Error", "Success"}));
        QCOMPARE(deleted.value("Success").toBool(), true);
        QVERIFY(findContact(phonebook(), "Short Lived").isEmpty());
        const HttpReply photo = server_.post(photoPath, "login=" + key_ + "&");
        QCOMPARE(photo.status, 404);
        QVERIFY(photo.body.empty());

        const QJsonObject again = change("/Phonebook/DeleteContact.html", {{"ContactID", id}});
        QCOMPARE(again.value("Success").toBool(true), false);
        QCOMPARE(again.value("Error").toString(), QStringLiteral("Unknown contact."));
    }

    void photoIsAnImageForKnownContactsOnly()
    {
        const QString id = findContact(phonebook(), QString::fromUtf8("Zoë Müller")).value("id").toString();
        const std::string path = "/Phonebook/GetContactPhoto.html?ContactID=" + id.toStdString();
        const HttpReply photo = server_.post(path, "login=" + key_ + "&");
        QCOMPARE(photo.status, 200);
        QCOMPARE(photo.contentType, std::string("image/png"));
        QImage image;
        QVERIFY(image.loadFromData(QByteArray::fromStdString(photo.body)));
        QCOMPARE(image.size(), QSize(50, 50));
        // A disc of colour: the middle is painted, the corners are not.
        QVERIFY(qAlpha(image.pixel(25, 40)) == 255);
        QVERIFY(qAlpha(image.pixel(0, 0)) == 0);

        QVERIFY(server_.post(path, "login=&").body.empty());
        QVERIFY(server_.post("/Phonebook/GetContactPhoto.html?ContactID=0", "login=" + key_ + "&").body.empty());
        QVERIFY(server_.post("/Phonebook/GetContactPhoto.html?ContactID=x", "login=" + key_ + "&").body.empty());
    }

    void historyHasTheDocumentedShape()
    {
        const HttpReply reply = server_.post("/History/PlacedCallsDataAPI.html", "login=" + key_ + "&");
        QVERIFY(reply.isAscii());
        bool ok = false;
        const QJsonObject o = reply.object(&ok);
        QVERIFY(ok);
        const QJsonArray calls = o.value("result").toArray();
        QVERIFY(calls.size() >= 3);  // the demo account's past calls
        const QRegularExpression duration(QStringLiteral("^\\d\\d:[0-5]\\d:[0-5]\\d$"));
        QString previousStart = QStringLiteral("9999");
        for (const QJsonValue &c : calls) {
            const QJsonObject call = c.toObject();
            for (const char *k : {"Name", "WholeNumber", "Duration", "starttime"})
                QVERIFY2(call.value(k).isString(), k);
            QVERIFY(duration.match(call.value("Duration").toString()).hasMatch());
            const QString start = call.value("starttime").toString();
            QVERIFY(QDateTime::fromString(start, QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());
            QVERIFY(start <= previousStart);  // newest first
            previousStart = start;
        }
        const QJsonObject echo = calls[0].toObject();
        QCOMPARE(echo.value("WholeNumber").toString(), QStringLiteral("999"));
        QCOMPARE(echo.value("Name").toString(), QStringLiteral("Echo test"));
        const QJsonObject zoe = calls[2].toObject();
        QCOMPARE(zoe.value("WholeNumber").toString(), QStringLiteral("4915112345678"));
        QCOMPARE(zoe.value("Name").toString(), QString::fromUtf8("Zoë Müller"));
        QCOMPARE(zoe.value("Duration").toString(), QStringLiteral("00:02:31"));
    }

    void creditIsTextWithTwoDecimals()
    {
        const HttpReply reply = server_.post("/Credit/GetCredit.html", "login=" + key_ + "&");
        bool ok = false;
        const QJsonObject o = reply.object(&ok);
        QVERIFY(ok);
        QCOMPARE(o.keys(), QStringList{"Credit"});
        QVERIFY(o.value("Credit").isString());
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d\\d$")).match(o.value("Credit").toString()).hasMatch());
    }

    void textIsStoredAndCharged()
    {
        const double before = QString::fromStdString(credit()).toDouble();
        const QJsonObject sent = change("/Phonebook/Text.html", {{"TextCountryCode", "49"},
                                                                 {"TextPhone", "15112345678"},
                                                                 {"SMSText", QString::fromUtf8("Grüße & bis später")}});
        QCOMPARE(keysOf(sent), (QStringList{"Error", "Success"}));
        QCOMPARE(sent.value("Success").toBool(), true);
        QCOMPARE(QString::fromStdString(credit()).toDouble(), before - 0.06);  // Germany: $0.06 a text

        // The softphone's body has no "&" after the last pair.
        const HttpReply raw = server_.post("/Phonebook/Text.html",
                                           "login=" + key_ + "&TextCountryCode=1&TextPhone=2125550143&SMSText=Hi%20there");
        QCOMPARE(raw.object().value("Success").toBool(), true);
        QCOMPARE(QString::fromStdString(credit()).toDouble(), before - 0.11);
    }

    void textRefusesWithAClearError_data()
    {
        QTest::addColumn<QString>("countryCode");
        QTest::addColumn<QString>("phone");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("error");
        QTest::newRow("no number") << "49" << "" << "hi" << "Please enter a phone number.";
        QTest::newRow("blank number") << "49" << "  " << "hi" << "Please enter a phone number.";
        QTest::newRow("letters") << "49" << "15x" << "hi" << "The phone number may contain digits only.";
        QTest::newRow("no message") << "49" << "151" << "" << "Please enter a message.";
        QTest::newRow("echo test") << "" << "999" << "hi" << "Text messages cannot be sent to this number.";
    }

    void textRefusesWithAClearError()
    {
        QFETCH(QString, countryCode);
        QFETCH(QString, phone);
        QFETCH(QString, message);
        QFETCH(QString, error);
        const std::string before = credit();
        const QJsonObject reply = change("/Phonebook/Text.html",
                                         {{"TextCountryCode", countryCode}, {"TextPhone", phone}, {"SMSText", message}});
        QCOMPARE(reply.value("Success").toBool(true), false);
        QCOMPARE(reply.value("Error").toString(), error);
        QCOMPARE(credit(), before);
    }

    void updateIsFalseByDefault()
    {
        QCOMPARE(server_.post("/update.php", "").body, std::string("false"));
    }

    void plusIsSpaceInBodiesAndPlusInQueries()
    {
        const QString friends = groupIdNamed(phonebook(), QStringLiteral("Friends"));
        // A browser-style body: "+" for a space, %2B for a plus.
        const HttpReply reply = server_.post("/Phonebook/AddContactAPI.html",
                                             "login=" + key_ + "&GroupID=" + friends.toStdString() +
                                                 "&Name=Plus+Sign&Title=C%2B%2B&Company=&AddContactCountryCode_0=1"
                                                 "&Phone_0=777&PhoneType_0=Home&");
        QCOMPARE(reply.object().value("Success").toBool(), true);
        QCOMPARE(findContact(phonebook(), "Plus Sign").value("title").toString(), QStringLiteral("C++"));
        // A query keeps a literal plus.
        QVERIFY(server_.get("/Webservices/login.php?email=demo%40ondavox.com&password=ondavox+demo").isFalse());
    }
};

QTEST_GUILESS_MAIN(DevServerApiTest)
#include "tst_devserver_api.moc"
