// The account pages, the registration page and the simulated payment.
#include "devserver_process.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QJsonArray>
#include <QRegularExpression>
#include <QtTest>

#include <sqlite3.h>

#include <httplib.h>

namespace {

QString captured(const std::string &html, const char *pattern)
{
    return QRegularExpression(QString::fromLatin1(pattern)).match(QString::fromStdString(html)).captured(1);
}

std::string pngOf(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

} // namespace

class DevServerPagesTest : public QObject {
    Q_OBJECT

private:
    DevServer server_;
    std::string key_;

    QString credit(const std::string &key)
    {
        return server_.post("/Credit/GetCredit.html", "login=" + key + "&").object().value("Credit").toString();
    }

    // Opens the billing page for the amount and returns the payment token it shows.
    std::string billingToken(const std::string &key, const std::string &amount)
    {
        const HttpReply page = server_.post("/Account/BillingInfo.html?amount=" + amount, "login=" + key + "&");
        return captured(page.body, "name=\"token\" value=\"([0-9a-f]+)\"").toStdString();
    }

    HttpReply pay(const std::string &key, const std::string &token, const std::string &card)
    {
        return server_.post("/Account/Pay.html", "login=" + key + "&token=" + token + "&amount=20&holder=Demo+User&card=" +
                                                     card + "&expiry=12%2F30");
    }

    // Billing forms shown and not paid, as the server's database holds them.
    int openPayments()
    {
        sqlite3 *db = nullptr;
        int count = -1;
        if (sqlite3_open_v2(server_.databasePath().toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db, 5000);
            sqlite3_stmt *st = nullptr;
            if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM payments WHERE paid_time IS NULL", -1, &st, nullptr) == SQLITE_OK
                && sqlite3_step(st) == SQLITE_ROW)
                count = sqlite3_column_int(st, 0);
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
        return count;
    }

    HttpReply upload(const httplib::MultipartFormDataItems &items)
    {
        httplib::Client client("127.0.0.1", server_.port());
        const auto result = client.Post("/Phonebook/UploadPhoto.html", items);
        HttpReply reply;
        if (result) {
            reply.transportOk = true;
            reply.status = result->status;
            reply.body = result->body;
        }
        return reply;
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

    void accountPagesNeedAValidKey_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("heading");
        QTest::newRow("rates") << "/Rates/ViewRates.html" << "Rates and charges";
        QTest::newRow("phonebook") << "/Phonebook/Phonebook.html" << "Your phonebook";
        QTest::newRow("billing") << "/Account/BillingInfo.html?amount=10" << "Add credit";
    }

    void accountPagesNeedAValidKey()
    {
        QFETCH(QString, path);
        QFETCH(QString, heading);
        const std::string p = path.toStdString();
        for (const std::string body : {"login=&", "login=00000000000000000000000000000000&", ""}) {
            const HttpReply refused = server_.post(p, body);
            QCOMPARE(refused.status, 403);
            QVERIFY(refused.body.find("<h1>Login required</h1>") != std::string::npos);
            QVERIFY(refused.body.find(heading.toStdString()) == std::string::npos);
        }
        const HttpReply page = server_.post(p, "login=" + key_ + "&");
        QCOMPARE(page.status, 200);
        QVERIFY(page.contentType.find("text/html") == 0);
        QVERIFY(page.body.find("<h1>" + heading.toStdString() + "</h1>") != std::string::npos);
        QVERIFY(page.body.find(kDemoEmail) != std::string::npos);
    }

    void accountPagesShowTheAccountsData()
    {
        const HttpReply rates = server_.post("/Rates/ViewRates.html", "login=" + key_ + "&");
        QCOMPARE(captured(rates.body, "id=\"balance\">([^<]+)<"), QStringLiteral("$10.00"));
        QVERIFY(rates.body.find("United Kingdom mobile") != std::string::npos);
        QVERIFY(rates.body.find("+4915112345678") != std::string::npos);  // a past call

        const HttpReply phonebook = server_.post("/Phonebook/Phonebook.html", "login=" + key_ + "&");
        QVERIFY(phonebook.body.find("Zoë Müller") != std::string::npos);
        QVERIFY(phonebook.body.find("Kim &amp; Partners") != std::string::npos);
        QVERIFY(phonebook.body.find("No contacts in this group.") != std::string::npos);

        const HttpReply billing = server_.post("/Account/BillingInfo.html?amount=50", "login=" + key_ + "&");
        QCOMPARE(captured(billing.body, "id=\"amount\">([^<]+)<"), QStringLiteral("$50.00"));
    }

    void publicPagesNeedNoLogin()
    {
        const HttpReply rates = server_.get("/Home/Rates.html");
        QCOMPARE(rates.status, 200);
        for (const char *text : {"<td>0049</td>", "<td>001</td>", "<td>0044</td>", "<td>00</td>", "<td>999</td>",
                                 "$0.03", "free"})
            QVERIFY2(rates.body.find(text) != std::string::npos, text);

        const HttpReply form = server_.get("/Account/Register.html");
        QCOMPARE(form.status, 200);
        for (const char *text : {"action=\"/Account/Register.html\"", "name=\"email\"", "name=\"password\"",
                                 "name=\"password2\""})
            QVERIFY2(form.body.find(text) != std::string::npos, text);
        QCOMPARE(server_.get("/No/Such/Page.html").status, 404);
    }

    void registrationCreatesAnAccountToLogInWith()
    {
        // As a browser sends the page's form: UTF-8, "+" for spaces.
        const QString password = QString::fromUtf8("pässwört 1");
        const std::string encoded = password.toUtf8().toPercentEncoding(" ").replace(' ', '+').toStdString();
        const HttpReply created = server_.post("/Account/Register.html", "email=new.user%40example.com&password=" +
                                                                             encoded + "&password2=" + encoded);
        QCOMPARE(created.status, 200);
        const QString username = captured(created.body, "id=\"iax-username\">([^<]+)<");
        const QString iaxPassword = captured(created.body, "id=\"iax-password\">([^<]+)<");
        QCOMPARE(username, QStringLiteral("1001"));  // after the demo account's 1000
        QVERIFY(iaxPassword.size() >= 10);

        // The softphone sends the password's Latin-1 bytes, or their digest.
        const HttpReply login = server_.get("/Webservices/login.php?email=new.user%40example.com&password=" +
                                            encodeValue(password));
        const QJsonObject o = login.object();
        QCOMPARE(o.value("Username").toString(), username);
        QCOMPARE(o.value("Password").toString(), iaxPassword);
        const QString digest = QString::fromLatin1(
            QCryptographicHash::hash(password.toLatin1(), QCryptographicHash::Md5).toHex());
        const std::string key = server_.login(QStringLiteral("new.user@example.com"), digest);
        QVERIFY(!key.empty());

        QCOMPARE(credit(key), QStringLiteral("1.00"));
        const QJsonArray groups = server_.get("/Webservices/contacts.php?login=" + key).object().value("result").toArray();
        QCOMPARE(groups.size(), 3);
        QCOMPARE(groups[1].toObject().value("contacts").toArray()[0].toObject().value("name").toString(),
                 QStringLiteral("Echo test"));

        // One account cannot touch another's phonebook.
        const QJsonArray demoGroups =
            server_.get("/Webservices/contacts.php?login=" + key_).object().value("result").toArray();
        const QString demoContact = demoGroups[0].toObject().value("contacts").toArray()[0].toObject().value("id").toString();
        const QJsonObject refused = server_.post("/Phonebook/DeleteContact.html",
                                                 "login=" + key + "&ContactID=" + demoContact.toStdString() + "&")
                                        .object();
        QCOMPARE(refused.value("Error").toString(), QStringLiteral("Unknown contact."));
        QVERIFY(server_.post("/Phonebook/GetContactPhoto.html?ContactID=" + demoContact.toStdString(),
                             "login=" + key + "&")
                    .body.empty());
    }

    void registrationRefusesWithAMessage_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("message");
        QTest::newRow("taken") << "email=DEMO%40ondavox.com&password=abcdefg&password2=abcdefg"
                               << "An account with this e-mail address already exists.";
        QTest::newRow("mismatch") << "email=a%40example.com&password=abcdefg&password2=abcdefh"
                                  << "The two passwords differ.";
        QTest::newRow("short") << "email=a%40example.com&password=abc&password2=abc"
                               << "The password must have at least 6 characters.";
        QTest::newRow("no address") << "email=example.com&password=abcdefg&password2=abcdefg"
                                    << "Please enter a valid e-mail address.";
        QTest::newRow("beyond Latin-1") << "email=a%40example.com&password=%E2%82%AC12345&password2=%E2%82%AC12345"
                                        << "The password may contain only Latin-1 characters";
        QTest::newRow("address beyond Latin-1") << "email=a%D0%B6%40example.com&password=abcdefg&password2=abcdefg"
                                                << "The e-mail address may contain only Latin-1 characters.";
    }

    void registrationRefusesWithAMessage()
    {
        QFETCH(QString, body);
        QFETCH(QString, message);
        const HttpReply page = server_.post("/Account/Register.html", body.toStdString());
        QVERIFY2(page.body.find(message.toStdString()) != std::string::npos, page.body.c_str());
        QVERIFY(page.body.find("iax-username") == std::string::npos);
        QVERIFY(server_.login(QStringLiteral("a@example.com"), QStringLiteral("abcdefg")).empty());
    }

    void paymentAddsTheAmountOnce()
    {
        const QString before = credit(key_);
        const std::string token = billingToken(key_, "20");
        QVERIFY(!token.empty());

        const HttpReply paid = pay(key_, token, "4242+4242+4242+4242");
        QVERIFY(paid.body.find("$20.00 was added") != std::string::npos);
        const QString after = credit(key_);
        QCOMPARE(after.toDouble(), before.toDouble() + 20.0);
        QCOMPARE(captured(paid.body, "id=\"balance\">\\$([^<]+)<"), after);

        // Sending the same form again (a reload) charges nothing more.
        const HttpReply again = pay(key_, token, "4242424242424242");
        QVERIFY(again.body.find("already made") != std::string::npos);
        QCOMPARE(credit(key_), after);
    }

    void paymentRefusals()
    {
        const QString before = credit(key_);
        QVERIFY(pay(key_, billingToken(key_, "10"), "4242424242424241").body.find("card number is not valid") !=
                std::string::npos);
        QVERIFY(pay(key_, "ffffffffffffffffffffffffffffffff", "4242424242424242").body.find("not valid any more") !=
                std::string::npos);
        // A token belongs to the account that opened the page.
        const std::string other = server_.login(QStringLiteral("new.user@example.com"), QString::fromUtf8("pässwört 1"));
        QVERIFY(!other.empty());
        QVERIFY(pay(other, billingToken(key_, "10"), "4242424242424242").body.find("not valid any more") !=
                std::string::npos);
        QCOMPARE(pay("", billingToken(key_, "10"), "4242424242424242").status, 403);
        for (const char *amount : {"", "0", "abc", "0.5", "10.123", "5000"}) {
            const HttpReply page = server_.post(std::string("/Account/BillingInfo.html?amount=") + amount,
                                                "login=" + key_ + "&");
            QVERIFY2(page.body.find("Please choose an amount") != std::string::npos, amount);
            QVERIFY(page.body.find("name=\"token\"") == std::string::npos);
        }
        QCOMPARE(credit(key_), before);
        QCOMPARE(captured(server_.post("/Account/BillingInfo.html?amount=12.5", "login=" + key_ + "&").body,
                          "id=\"amount\">([^<]+)<"),
                 QStringLiteral("$12.50"));
    }

    void billingViewsKeepFewOpenForms()
    {
        // A page reloaded over and over, and every amount there is.
        const std::string first = billingToken(key_, "30");
        for (int i = 0; i < 30; ++i)
            QCOMPARE(billingToken(key_, "30"), first);
        for (int dollars = 1; dollars <= 40; ++dollars)
            QVERIFY(!billingToken(key_, std::to_string(dollars) + ".01").empty());
        QCOMPARE(openPayments(), 10);

        // The newest forms still pay; one pushed out says so and charges nothing.
        const QString before = credit(key_);
        QVERIFY(pay(key_, first, "4242424242424242").body.find("not valid any more") != std::string::npos);
        QCOMPARE(credit(key_), before);
        QVERIFY(pay(key_, billingToken(key_, "40.01"), "4242424242424242").body.find("$40.01 was added") !=
                std::string::npos);
    }

    void uploadedPhotoReplacesTheAvatar()
    {
        const QJsonArray groups = server_.get("/Webservices/contacts.php?login=" + key_).object().value("result").toArray();
        const std::string id = groups[1].toObject().value("contacts").toArray()[0].toObject().value("id").toString().toStdString();
        const std::string photoPath = "/Phonebook/GetContactPhoto.html?ContactID=" + id;
        QImage red(120, 80, QImage::Format_RGB32);
        red.fill(Qt::red);

        const HttpReply saved = upload({{"login", key_, "", ""}, {"ContactID", id, "", ""},
                                        {"photo", pngOf(red), "red.png", "image/png"}});
        QVERIFY2(saved.body.find("was saved") != std::string::npos, saved.body.c_str());
        QImage photo;
        QVERIFY(photo.loadFromData(QByteArray::fromStdString(server_.post(photoPath, "login=" + key_ + "&").body)));
        QCOMPARE(photo.size(), QSize(50, 50));
        QCOMPARE(QColor(photo.pixel(0, 0)), QColor(Qt::red));  // a photo fills the square

        const HttpReply notImage = upload({{"login", key_, "", ""}, {"ContactID", id, "", ""},
                                           {"photo", "not a picture", "x.png", "image/png"}});
        QVERIFY(notImage.body.find("Please choose a picture file") != std::string::npos);
        // A small file of an enormous picture is refused before it is decoded.
        QImage huge(6000, 6000, QImage::Format_Mono);
        huge.fill(0);
        const HttpReply tooLarge = upload({{"login", key_, "", ""}, {"ContactID", id, "", ""},
                                           {"photo", pngOf(huge), "huge.png", "image/png"}});
        QVERIFY2(tooLarge.body.find("at most 4096 by 4096 pixels") != std::string::npos, tooLarge.body.c_str());
        QVERIFY(photo.loadFromData(QByteArray::fromStdString(server_.post(photoPath, "login=" + key_ + "&").body)));
        QCOMPARE(QColor(photo.pixel(0, 0)), QColor(Qt::red));
        QVERIFY(upload({{"login", "nope", "", ""}, {"ContactID", id, "", ""}}).status == 403);

        QVERIFY(upload({{"login", key_, "", ""}, {"ContactID", id, "", ""}, {"remove", "1", "", ""}})
                    .body.find("was removed") != std::string::npos);
        QVERIFY(photo.loadFromData(QByteArray::fromStdString(server_.post(photoPath, "login=" + key_ + "&").body)));
        QCOMPARE(qAlpha(photo.pixel(0, 0)), 0);  // the avatar disc again
    }
};

QTEST_GUILESS_MAIN(DevServerPagesTest)
#include "tst_devserver_pages.moc"
