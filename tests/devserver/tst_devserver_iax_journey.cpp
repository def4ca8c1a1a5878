// A subscriber's journey through the real devserver: an account registered
// on the web page registers over IAX2 with the engine, places calls, and
// finds them in the history and the credit.
#include "devserver_process.h"

#include "iaxclient.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QtTest>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::mutex eventsMutex;
std::condition_variable eventsChanged;
std::vector<iaxc_event> events;

int onEvent(iaxc_event e)
{
    {
        std::lock_guard<std::mutex> lock(eventsMutex);
        events.push_back(e);
    }
    eventsChanged.notify_all();
    return 0;
}

template <typename Pred>
bool waitForEvent(Pred pred, std::chrono::milliseconds timeout = 10s)
{
    std::unique_lock<std::mutex> lock(eventsMutex);
    return eventsChanged.wait_for(lock, timeout, [&] {
        for (const auto &e : events) {
            if (pred(e))
                return true;
        }
        return false;
    });
}

int registrationReply(int id)
{
    int reply = 0;
    waitForEvent([&](const iaxc_event &e) {
        return e.type == IAXC_EVENT_REGISTRATION && e.ev.reg.id == id && (reply = e.ev.reg.reply) != 0;
    });
    return reply;
}

bool waitForState(int state)
{
    return waitForEvent([&](const iaxc_event &e) { return e.type == IAXC_EVENT_STATE && e.ev.call.state == state; });
}

void clearEvents()
{
    std::lock_guard<std::mutex> lock(eventsMutex);
    events.clear();
}

constexpr int kAnswered = IAXC_CALL_STATE_ACTIVE | IAXC_CALL_STATE_OUTGOING | IAXC_CALL_STATE_COMPLETE;

} // namespace

class DevServerIaxJourneyTest : public QObject {
    Q_OBJECT

private:
    DevServer server_;
    QString username_;
    QString password_;
    std::string key_;
    std::string host_;

    // Places a call, lets it be answered, holds it briefly and hangs up;
    // encrypted tells whether the engine found the answered call encrypted.
    bool callAndHangUp(const std::string &number, bool *encrypted = nullptr)
    {
        return callAndHangUp(username_.toStdString() + ":" + password_.toStdString() + "@" + host_ + "/" + number,
                             encrypted, true);
    }
    static bool callAndHangUp(const std::string &dial, bool *encrypted, bool)
    {
        clearEvents();
        if (iaxc_call(dial.c_str()) != 0 || !waitForState(kAnswered))
            return false;
        if (encrypted)
            *encrypted = iaxc_call_is_encrypted() == 1;
        iaxc_send_dtmf('5');
        QTest::qWait(1200);
        clearEvents();
        iaxc_dump_call();
        return waitForState(IAXC_CALL_STATE_FREE);
    }

    QJsonObject newestCall()
    {
        return server_.post("/History/PlacedCallsDataAPI.html", "login=" + key_ + "&")
            .object().value("result").toArray().first().toObject();
    }

    QString credit()
    {
        return server_.post("/Credit/GetCredit.html", "login=" + key_ + "&").object().value("Credit").toString();
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(server_.start(&error), qPrintable(error));
        QVERIFY(server_.iaxPort() > 0);
        host_ = "127.0.0.1:" + std::to_string(server_.iaxPort());

        const HttpReply page = server_.post("/Account/Register.html",
                                            "email=caller%40example.com&password=calling1&password2=calling1");
        const QString html = page.text();
        username_ = QRegularExpression("id=\"iax-username\">([^<]+)<").match(html).captured(1);
        password_ = QRegularExpression("id=\"iax-password\">([^<]+)<").match(html).captured(1);
        QVERIFY(!username_.isEmpty() && !password_.isEmpty());

        // The softphone takes the IAX2 credentials from the login reply.
        const QJsonObject login = server_.get("/Webservices/login.php?email=caller%40example.com&password=calling1").object();
        QCOMPARE(login.value("Username").toString(), username_);
        QCOMPARE(login.value("Password").toString(), password_);
        key_ = login.value("Key").toString().toStdString();

        QCOMPARE(iaxc_initialize(1), 0);
        iaxc_set_formats(IAXC_FORMAT_GSM, IAXC_FORMAT_GSM);
        iaxc_set_silence_threshold(-99.0f);
        iaxc_set_event_callback(onEvent);
        iaxc_start_processing_thread();
    }

    void cleanupTestCase()
    {
        iaxc_shutdown();
        QCOMPARE(server_.stop(), 0);
    }

    void theNewAccountRegistersOverIax()
    {
        const int good = iaxc_register(username_.toUtf8().constData(), password_.toUtf8().constData(), host_.c_str());
        QCOMPARE(registrationReply(good), IAXC_REGISTRATION_REPLY_ACK);
        const int bad = iaxc_register(username_.toUtf8().constData(), "not-the-password", host_.c_str());
        QCOMPARE(registrationReply(bad), IAXC_REGISTRATION_REPLY_REJ);
    }

    void theEchoTestIsListedAndFree()
    {
        bool encrypted = false;
        QVERIFY(callAndHangUp("999", &encrypted));
        QVERIFY2(encrypted, "the devserver encrypts the calls that offer it unless told otherwise");
        const QJsonObject call = newestCall();
        QCOMPARE(call.value("WholeNumber").toString(), QStringLiteral("999"));
        QCOMPARE(call.value("Name").toString(), QStringLiteral("Echo test"));
        QVERIFY(call.value("Duration").toString() >= QStringLiteral("00:00:01"));
        QCOMPARE(credit(), QStringLiteral("1.00"));
    }

    void encryptionModesAsTheEngineMeetsThem_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("encrypted");
        QTest::newRow("off") << "off" << false;
        QTest::newRow("offer") << "offer" << true;
        QTest::newRow("require") << "require" << true;
    }

    void encryptionModesAsTheEngineMeetsThem()
    {
        QFETCH(QString, mode);
        QFETCH(bool, encrypted);
        DevServer other({"--encryption", mode});
        QString error;
        QVERIFY2(other.start(&error), qPrintable(error));
        // The demo account a fresh database starts with.
        const std::string dial = "1000:s3cret-1000@127.0.0.1:" + std::to_string(other.iaxPort()) + "/999";
        bool wasEncrypted = !encrypted;
        QVERIFY(callAndHangUp(dial, &wasEncrypted, true));
        QCOMPARE(wasEncrypted, encrypted);
        QCOMPARE(iaxc_call_is_encrypted(), 0);
        QCOMPARE(other.stop(), 0);
    }

    void aCallIsChargedPerStartedMinute()
    {
        QVERIFY(callAndHangUp("004930123456"));
        const QJsonObject call = newestCall();
        QCOMPARE(call.value("WholeNumber").toString(), QStringLiteral("4930123456"));
        QCOMPARE(call.value("Name").toString(), QString());
        // The record closes as our HANGUP reaches the server, a moment after the line is free.
        QTRY_COMPARE(credit(), QStringLiteral("0.97")); // one started minute to Germany
    }
};

QTEST_GUILESS_MAIN(DevServerIaxJourneyTest)
#include "tst_devserver_iax_journey.moc"
