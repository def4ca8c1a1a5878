// Persistence across restarts, the command-line options and fault injection.
#include "devserver_process.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QtTest>

class DevServerLifecycleTest : public QObject {
    Q_OBJECT

private slots:
    void restartKeepsAccountsKeysPhonebookAndCredit()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("kept.sqlite"));
        std::string key;
        QString contacts;
        {
            DevServer first({}, db);
            QVERIFY(first.start());
            key = first.login(QString::fromLatin1(kDemoEmail), QString::fromLatin1(kDemoPassword));
            QVERIFY(!key.empty());
            const QString groupId = first.get("/Webservices/contacts.php?login=" + key)
                                        .object().value("result").toArray()[2].toObject().value("id").toString();
            QVERIFY(first.post("/Phonebook/AddContactAPI.html",
                               formBody({{"login", QString::fromStdString(key)}, {"GroupID", groupId},
                                         {"Name", QString::fromUtf8("Søren Kierkegård")}, {"Title", ""},
                                         {"Company", ""}, {"AddContactCountryCode_0", "45"},
                                         {"Phone_0", "33123456"}, {"PhoneType_0", "Home"}}))
                        .object().value("Success").toBool());
            QVERIFY(first.post("/Phonebook/Text.html", "login=" + key + "&TextCountryCode=1&TextPhone=2125550143&SMSText=hi")
                        .object().value("Success").toBool());
            QVERIFY(first.post("/Account/Register.html", "email=kept%40example.com&password=secret1&password2=secret1")
                        .body.find("iax-username") != std::string::npos);
            contacts = first.get("/Webservices/contacts.php?login=" + key).text();
            QCOMPARE(first.stop(), 0);
        }
        DevServer second({}, db);
        QVERIFY(second.start());
        // The old login key still works, and nothing was seeded twice.
        QCOMPARE(second.get("/Webservices/contacts.php?login=" + key).text(), contacts);
        QVERIFY(contacts.contains(QStringLiteral("S\\u00f8ren Kierkeg\\u00e5rd")));
        QCOMPARE(second.post("/Credit/GetCredit.html", "login=" + key + "&").object().value("Credit").toString(),
                 QStringLiteral("9.95"));
        QVERIFY(!second.login(QStringLiteral("kept@example.com"), QStringLiteral("secret1")).empty());
        QCOMPARE(second.stop(), 0);
    }

    void updateReplyFromTheOptions()
    {
        DevServer server({"--update-version", "102", "--update-url-win", "https://example.com/ondavox-setup.exe",
                          "--update-url-mac", "https://example.com/Ondavox.dmg"});
        QVERIFY(server.start());
        const HttpReply reply = server.post("/update.php", "");
        bool ok = false;
        const QJsonObject o = reply.object(&ok);
        QVERIFY(ok);
        QCOMPARE(o.value("Version").toInt(), 102);
        QVERIFY(o.value("Version").isDouble());
        QCOMPARE(o.value("DownloadUrlWin").toString(), QStringLiteral("https://example.com/ondavox-setup.exe"));
        QCOMPARE(o.value("DownloadUrlMac").toString(), QStringLiteral("https://example.com/Ondavox.dmg"));
    }

    void faultsApplyToTheirPathsOnly()
    {
        DevServer server({"--fault", "/Credit/GetCredit.html=false",
                          "--fault", "/Webservices/contacts.php=malformed",
                          "--fault", "/History/PlacedCallsDataAPI.html=status:503",
                          "--fault", "/Phonebook/Text.html=drop",
                          "--fault", "/update.php=delay:400"});
        QVERIFY(server.start());
        const std::string key = server.login(QString::fromLatin1(kDemoEmail), QString::fromLatin1(kDemoPassword));
        QVERIFY(!key.empty());  // the login path has no fault

        QCOMPARE(server.post("/Credit/GetCredit.html", "login=" + key + "&").body, std::string("false"));

        const HttpReply malformed = server.get("/Webservices/contacts.php?login=" + key);
        bool ok = true;
        malformed.object(&ok);
        QVERIFY(!ok);
        QVERIFY(malformed.transportOk && !malformed.isFalse() && !malformed.body.empty());

        const HttpReply status = server.post("/History/PlacedCallsDataAPI.html", "login=" + key + "&");
        QCOMPARE(status.status, 503);

        const HttpReply dropped = server.post("/Phonebook/Text.html", "login=" + key + "&TextCountryCode=1&TextPhone=2&SMSText=x");
        QVERIFY(!dropped.transportOk);
        // The dropped text was never handled, so nothing was charged.
        QCOMPARE(server.post("/History/PlacedCallsDataAPI.html", "login=" + key + "&").status, 503);

        QElapsedTimer timer;
        timer.start();
        const HttpReply late = server.post("/update.php", "");
        QVERIFY(timer.elapsed() >= 400);
        QCOMPARE(late.body, std::string("false"));  // the real reply, late

        QCOMPARE(server.stop(), 0);
    }

    void faultOnEveryPath()
    {
        DevServer server({"--fault", "*=false"});
        QVERIFY(server.start());
        QVERIFY(server.get("/Webservices/login.php?email=demo%40ondavox.com&password=ondavox-demo").isFalse());
        QVERIFY(server.get("/Home/Rates.html").isFalse());
    }

    void droppedTextIsNotCharged()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("drop.sqlite"));
        std::string key;
        {
            DevServer faulty({"--fault", "/Phonebook/Text.html=drop"}, db);
            QVERIFY(faulty.start());
            key = faulty.login(QString::fromLatin1(kDemoEmail), QString::fromLatin1(kDemoPassword));
            QVERIFY(!faulty.post("/Phonebook/Text.html", "login=" + key + "&TextCountryCode=1&TextPhone=2&SMSText=x")
                         .transportOk);
        }
        DevServer healthy({}, db);
        QVERIFY(healthy.start());
        QCOMPARE(healthy.post("/Credit/GetCredit.html", "login=" + key + "&").object().value("Credit").toString(),
                 QStringLiteral("10.00"));
    }

    void badOptionsStopWithAMessage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("fault without kind") << QStringList{"--fault", "/x"} << "expected <path>=<kind>";
        QTest::newRow("unknown fault") << QStringList{"--fault", "/x=explode"} << "unknown fault";
        QTest::newRow("status out of range") << QStringList{"--fault", "/x=status:99"} << "status:<code>";
        QTest::newRow("delay not a number") << QStringList{"--fault", "/x=delay:soon"} << "delay:<ms>";
        QTest::newRow("relative path") << QStringList{"--fault", "x=false"} << "must start with";
        QTest::newRow("port") << QStringList{"--http-port", "70000"} << "--http-port";
        QTest::newRow("version") << QStringList{"--update-version", "new"} << "--update-version";
        QTest::newRow("history limit") << QStringList{"--history-limit", "-1"} << "--history-limit";
        QTest::newRow("encryption") << QStringList{"--encryption", "maybe"} << "--encryption needs off, offer or require";
    }

    void badOptionsStopWithAMessage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QString standardError;
        QCOMPARE(DevServer::runToExit(QStringList{"--db", dir.filePath("x.sqlite"), "--iax-port", "0"} + arguments,
                                      &standardError),
                 2);
        QVERIFY2(standardError.contains(message), qPrintable(standardError));
    }

    void busyPortOrUnusableDatabaseStopWithAnError()
    {
        DevServer running;
        QVERIFY(running.start());
        QTemporaryDir dir;
        QString standardError;
        QCOMPARE(DevServer::runToExit({"--db", dir.filePath("y.sqlite"), "--iax-port", "0", "--http-port", QString::number(running.port())},
                                      &standardError),
                 1);
        QVERIFY2(standardError.contains("cannot bind"), qPrintable(standardError));

        QFile notADatabase(dir.filePath("garbage.sqlite"));
        QVERIFY(notADatabase.open(QIODevice::WriteOnly));
        notADatabase.write(QByteArray(4096, 'x'));
        notADatabase.close();
        QCOMPARE(DevServer::runToExit({"--db", notADatabase.fileName(), "--iax-port", "0", "--http-port", "0"}, &standardError), 1);
        QVERIFY2(standardError.contains("cannot open"), qPrintable(standardError));
    }
};

QTEST_GUILESS_MAIN(DevServerLifecycleTest)
#include "tst_devserver_lifecycle.moc"
