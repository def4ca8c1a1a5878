// The store under the IAX2 side: accounts by IAX2 user name, call records,
// charging; and the text codecs of the web side.
#include "devserver_process.h"

#include "store.h"
#include "store_iax_backend.h"
#include "web/avatar.h"
#include "web/form_codec.h"
#include "web/json_writer.h"

#include <QDateTime>
#include <QJsonArray>
#include <QtTest>

#include <atomic>
#include <thread>

using devserver::Store;
using devserver::StoreIaxBackend;

class DevServerStoreTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    int databases_ = 0;

    // A fresh store with the demo account; returns the demo account's id.
    std::int64_t openDemo(Store &store)
    {
        std::string error;
        const bool opened = store.open(dir_.filePath(QStringLiteral("store%1.sqlite").arg(++databases_)).toStdString(), &error);
        if (!opened)
            qWarning() << "open failed:" << error.c_str();
        store.seedDemoAccountIfEmpty();
        return store.accounts().findByIaxUsername("1000")->id;
    }

    static devserver::CallRecord recordOf(Store &store, std::int64_t accountId, std::int64_t callId)
    {
        for (const auto &call : store.usage().calls(accountId)) {
            if (call.id == callId)
                return call;
        }
        return {};
    }

private slots:
    void iaxAccountsAreFoundByUserName()
    {
        Store store;
        const auto demo = openDemo(store);
        StoreIaxBackend backend(store);
        const auto account = backend.findIaxAccount("1000");
        QVERIFY(account.has_value());
        QCOMPARE(account->accountId, demo);
        QCOMPARE(account->username, std::string("1000"));
        QCOMPARE(account->password, std::string("s3cret-1000"));
        QVERIFY(!backend.findIaxAccount("1001").has_value());
        QVERIFY(!backend.findIaxAccount("").has_value());

        const auto created = store.accounts().create("second@example.com", "password");
        QVERIFY(created.ok);
        const auto second = backend.findIaxAccount("1001");
        QVERIFY(second.has_value());
        QCOMPARE(second->accountId, created.id);
        QVERIFY(second->password.size() >= 10 && second->password != "s3cret-1000");
        QVERIFY(!store.seedDemoAccountIfEmpty());  // never seeded twice
    }

    void answeredCallsAreChargedPerStartedMinute_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<int>("talkSeconds");
        QTest::addColumn<int>("costCents");
        QTest::newRow("Germany 61 s") << "004930123456" << 61 << 6;
        QTest::newRow("Germany 60 s") << "004930123456" << 60 << 3;
        QTest::newRow("Germany 1 s") << "004930123456" << 1 << 3;
        QTest::newRow("answered, hung up at once") << "004930123456" << 0 << 0;
        QTest::newRow("UK mobile 3 min") << "00447700900123" << 180 << 27;
        QTest::newRow("echo test is free") << "999" << 600 << 0;
        QTest::newRow("elsewhere 2.5 min") << "0086123456" << 150 << 30;
    }

    void answeredCallsAreChargedPerStartedMinute()
    {
        QFETCH(QString, number);
        QFETCH(int, talkSeconds);
        QFETCH(int, costCents);
        Store store;
        const auto demo = openDemo(store);
        StoreIaxBackend backend(store);
        QVERIFY(backend.mayCall(demo, number.toStdString()));
        const std::int64_t t0 = 1700000000;
        const auto call = backend.callStarted(demo, number.toStdString(), t0);
        QVERIFY(call > 0);
        backend.callAnswered(call, t0 + 4);
        backend.callEnded(call, t0 + 4 + talkSeconds);
        backend.callEnded(call, t0 + 4 + talkSeconds + 300);  // a second end charges nothing more
        QCOMPARE(*store.accounts().credit(demo), 1000 - costCents);
        const auto record = recordOf(store, demo, call);
        QCOMPARE(record.id, call);
        QCOMPARE(record.costCents, std::int64_t(costCents));
        QCOMPARE(*record.endTime - *record.answerTime, std::int64_t(talkSeconds));
    }

    void unansweredCallsCostNothingAndLateEventsAreIgnored()
    {
        Store store;
        const auto demo = openDemo(store);
        StoreIaxBackend backend(store);
        const auto call = backend.callStarted(demo, "004930123456", 1700000000);
        backend.dtmfReceived(call, '1');
        backend.callEnded(call, 1700000030);
        backend.callAnswered(call, 1700000031);  // after the end: ignored
        backend.dtmfReceived(call, '2');
        QCOMPARE(*store.accounts().credit(demo), std::int64_t(1000));
        const auto record = recordOf(store, demo, call);
        QVERIFY(!record.answerTime.has_value());
        QCOMPARE(record.costCents, std::int64_t(0));
        QCOMPARE(record.dtmf, std::string("1"));

        // Unknown call ids change nothing.
        backend.callAnswered(424242, 1);
        backend.callEnded(424242, 2);
        backend.dtmfReceived(424242, '5');
        QCOMPARE(*store.accounts().credit(demo), std::int64_t(1000));
    }

    void dtmfDigitsAreAppendedToTheCallRecord()
    {
        Store store;
        const auto demo = openDemo(store);
        StoreIaxBackend backend(store);
        const auto call = backend.callStarted(demo, "999", 1700000000);
        backend.callAnswered(call, 1700000001);
        for (char digit : std::string("12*#ax\n9D"))
            backend.dtmfReceived(call, digit);
        // A caller holding a key down keeps only the first digits.
        for (int i = 0; i < 100000; ++i)
            backend.dtmfReceived(call, '5');
        backend.callEnded(call, 1700000010);
        QCOMPARE(recordOf(store, demo, call).dtmf, std::string("12*#A9D") + std::string(256 - 7, '5'));
    }

    void loginKeysLastThirtyDaysWithoutUse()
    {
        Store store;
        const auto demo = openDemo(store);
        const auto key = store.accounts().login("demo@ondavox.com", "ondavox-demo");
        QVERIFY(key.has_value());
        const std::int64_t day = 24 * 3600;
        const std::int64_t now = QDateTime::currentSecsSinceEpoch();
        // Each use keeps the key for another 30 days.
        QCOMPARE(store.accounts().accountForKey(*key, now + 29 * day), std::optional<std::int64_t>(demo));
        QCOMPARE(store.accounts().accountForKey(*key, now + 58 * day), std::optional<std::int64_t>(demo));
        QCOMPARE(store.accounts().accountForKey(*key, now + 88 * day), std::optional<std::int64_t>(demo));
        // Unused for 31 days: gone, also for a later look at an earlier time.
        QVERIFY(!store.accounts().accountForKey(*key, now + 119 * day).has_value());
        QVERIFY(!store.accounts().accountForKey(*key, now + 88 * day).has_value());
        // A new login gives a working key.
        QCOMPARE(store.accounts().accountForKey(*store.accounts().login("demo@ondavox.com", "ondavox-demo")), std::optional<std::int64_t>(demo));
    }

    void aCallNeverTakesMoreThanTheCreditLeft()
    {
        Store store;
        const auto demo = openDemo(store);
        StoreIaxBackend backend(store);
        const auto call = backend.callStarted(demo, "0086123456", 1700000000);
        backend.callAnswered(call, 1700000000);
        backend.callEnded(call, 1700000000 + 200 * 60);  // 200 minutes at $0.10
        QCOMPARE(*store.accounts().credit(demo), std::int64_t(0));
        QCOMPARE(recordOf(store, demo, call).costCents, std::int64_t(1000));

        QVERIFY(!backend.mayCall(demo, "004930123456"));
        QVERIFY(!backend.mayCall(demo, "999"));
        const auto refused = store.usage().sendText(demo, "49", "151", "hi", 1700020000);
        QVERIFY(!refused.ok);
        QCOMPARE(refused.error, std::string("Your credit is too low to send this text message."));
        QVERIFY(!backend.mayCall(987654, "004930123456"));  // unknown account
    }

    void concurrentCallsAndTextsKeepTheBooksStraight()
    {
        Store store;
        const auto demo = openDemo(store);
        StoreIaxBackend backend(store);
        std::atomic<int> texts{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 25; ++i) {
                    if (t % 2 == 0) {
                        const auto call = backend.callStarted(demo, "004930123456", 1700000000 + i);
                        backend.callAnswered(call, 1700000000 + i);
                        backend.callEnded(call, 1700000000 + i + 61);
                    } else if (store.usage().sendText(demo, "1", "2125550143", "hello", 1700000000 + i).ok) {
                        ++texts;
                    }
                }
            });
        }
        for (auto &thread : threads)
            thread.join();
        std::int64_t callCosts = 0;
        for (const auto &call : store.usage().calls(demo))
            callCosts += call.costCents;
        QCOMPARE(texts.load(), 50);
        QCOMPARE(callCosts, std::int64_t(50 * 6 + 9));  // the seeded past calls cost 9
        QCOMPARE(*store.accounts().credit(demo), std::int64_t(1000 - 50 * 6 - 50 * 5));
    }

    void aCallOnTheIaxSideShowsInTheHistoryAndTheCredit()
    {
        DevServer server;
        QVERIFY(server.start());
        Store store;  // the same database, as the IAX2 thread shares it
        QVERIFY(store.open(server.databasePath().toStdString()));
        StoreIaxBackend backend(store);
        const auto account = backend.findIaxAccount("1000");
        QVERIFY(account.has_value());

        const std::int64_t now = QDateTime::currentSecsSinceEpoch();
        QVERIFY(backend.mayCall(account->accountId, "004915112345678"));
        const auto call = backend.callStarted(account->accountId, "004915112345678", now - 100);
        backend.callAnswered(call, now - 95);
        backend.callEnded(call, now);

        const std::string key = server.login(QString::fromLatin1(kDemoEmail), QString::fromLatin1(kDemoPassword));
        const QJsonObject newest = server.post("/History/PlacedCallsDataAPI.html", "login=" + key + "&")
                                       .object().value("result").toArray().first().toObject();
        QCOMPARE(newest.value("Name").toString(), QString::fromUtf8("Zoë Müller"));
        QCOMPARE(newest.value("WholeNumber").toString(), QStringLiteral("4915112345678"));
        QCOMPARE(newest.value("Duration").toString(), QStringLiteral("00:01:35"));
        QCOMPARE(newest.value("starttime").toString(),
                 QDateTime::fromSecsSinceEpoch(now - 100).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        QCOMPARE(server.post("/Credit/GetCredit.html", "login=" + key + "&").object().value("Credit").toString(),
                 QStringLiteral("9.94"));  // two started minutes to Germany
    }

    void jsonRepliesArePureAscii()
    {
        using devserver::web::jsonString;
        QCOMPARE(jsonString("Zo\xc3\xab \xf0\x9f\x98\x80\n\"\\\x01"),
                 std::string("\"Zo\\u00eb \\ud83d\\ude00\\n\\\"\\\\\\u0001\""));
        // Broken UTF-8 cannot leak raw bytes into a reply.
        QCOMPARE(jsonString("a\xff" "b\xc3"), std::string("\"a\\ufffdb\\ufffd\""));
        QCOMPARE(devserver::web::JsonObject().add("Success", false).add("Error", "x").add("ContactID", 7).str(),
                 std::string("{\"Success\":false,\"Error\":\"x\",\"ContactID\":7}"));
    }

    void formsDecodeLatin1AndUtf8()
    {
        using namespace devserver::web;
        QCOMPARE(percentDecode("%41%4g+%", true), std::string("A%4g %"));
        QCOMPARE(percentDecode("a+b", false), std::string("a+b"));
        const FormFields latin1 = FormFields::parse("login=k&Name=Zo%EB+M%FCller&Empty=&Bare&", true, Charset::Latin1);
        QCOMPARE(latin1.value("Name"), std::string("Zo\xc3\xab M\xc3\xbcller"));
        QVERIFY(latin1.has("Empty") && latin1.has("Bare") && !latin1.has("Missing"));
        const FormFields utf8 = FormFields::parse("n=Zo%C3%AB&bad=%FC", true, Charset::Utf8);
        QCOMPARE(utf8.value("n"), std::string("Zo\xc3\xab"));
        QCOMPARE(utf8.value("bad"), std::string("\xc3\xbc"));  // not UTF-8: taken as Latin-1
    }

    void avatarInitials()
    {
        using devserver::web::initialsOf;
        QCOMPARE(initialsOf("Zo\xc3\xab M\xc3\xbcller"), std::string("ZM"));
        QCOMPARE(initialsOf("\xc3\xa9mile de la Fontaine"), std::string("\xc3\x89" "F"));
        QCOMPARE(initialsOf("echo"), std::string("E"));
        QCOMPARE(initialsOf("  "), std::string("?"));
    }
};

QTEST_GUILESS_MAIN(DevServerStoreTest)
#include "tst_devserver_store.moc"
