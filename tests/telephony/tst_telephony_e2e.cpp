// End to end: the real main window, the real engine and the devserver on
// loopback. Log in to the demo account, register, call the echo test, send
// keypad tones, hang up; and a registration the server refuses.
#include "views/tlogin.h"
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "debuglog.h"
#include "devserver_process.h"
#include "views/tcalldialog.h"
#include "testsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

#include <sqlite3.h>

#include <memory>
#include <optional>

namespace {

struct CallRow
{
    QString number;
    bool answered = false;
    bool ended = false;
    QString dtmf;
};

// The newest call record, read straight from the devserver's database.
std::optional<CallRow> newestCall(const QString &databasePath)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(databasePath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return std::nullopt;
    }
    sqlite3_busy_timeout(db, 2000);
    std::optional<CallRow> row;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT number, answer_time IS NOT NULL, end_time IS NOT NULL, dtmf FROM calls ORDER BY id DESC LIMIT 1",
                           -1, &statement, nullptr) == SQLITE_OK
        && sqlite3_step(statement) == SQLITE_ROW) {
        row = CallRow{QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0))),
                      sqlite3_column_int(statement, 1) != 0, sqlite3_column_int(statement, 2) != 0,
                      QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 3)))};
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return row;
}

} // namespace

class TestTelephonyEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void echoTestCall();
    void refusedRegistrationShowsInStatusBar();

private:
    void startWindow(int iaxPort);
    template <typename T>
    T *child(const char *name) { return window->findChild<T *>(QString::fromLatin1(name)); }
    QString registrationText() { return child<QLabel>("lblRegistration") ? child<QLabel>("lblRegistration")->text() : QString(); }
    bool serverLogged(const QString &line)
    {
        serverLog += server->standardError();
        return serverLog.contains(line);
    }

    std::unique_ptr<DevServer> server;
    QString serverLog;
    SettingsSandbox *sandbox = nullptr;
    std::unique_ptr<TMainWindow> window;
};

void TestTelephonyEndToEnd::init()
{
    server = std::make_unique<DevServer>(QStringList{QStringLiteral("--log-requests")});
    QString error;
    QVERIFY2(server->start(&error), qPrintable(error));
    QVERIFY(server->iaxPort() > 0);
    serverLog.clear();
    qputenv("ONDAVOX_WEB_BASE", QByteArray("http://127.0.0.1:") + QByteArray::number(server->port()));
    sandbox = new SettingsSandbox;
    sandbox->storeLogin(QString::fromLatin1(kDemoEmail), passwordDigest(QString::fromLatin1(kDemoPassword)));
}

void TestTelephonyEndToEnd::cleanup()
{
    setMainWindow(nullptr);
    window.reset();
    delete sandbox;
    sandbox = nullptr;
    server.reset();
    qunsetenv("ONDAVOX_WEB_BASE");
    qunsetenv("ONDAVOX_IAX2_HOST");
}

void TestTelephonyEndToEnd::startWindow(int iaxPort)
{
    qputenv("ONDAVOX_IAX2_HOST", QByteArray("127.0.0.1:") + QByteArray::number(iaxPort));
    window.reset(new TMainWindow);
    setMainWindow(window.get());
    window->show();
}

void TestTelephonyEndToEnd::echoTestCall()
{
    DebugLog log;
    startWindow(server->iaxPort());
    QTRY_COMPARE_WITH_TIMEOUT(registrationText(), QStringLiteral("Registered"), 15000);
    QVERIFY(child<QWidget>("wCall")->isEnabled());

    auto *page = child<TCallDialog>("pCall");
    auto *duration = page->findChild<QLabel *>(QStringLiteral("leCallDuration"));
    qint64 now = 1700000000;
    page->setClock([&now] { return now; });
    QSignalSpy status(window.get(), &TMainWindow::phoneStatus);

    QTest::keyClicks(child<QLineEdit>("leNumber"), QStringLiteral("999"));
    QTest::mouseClick(child<QPushButton>("pbCall"), Qt::LeftButton);
    QCOMPARE(child<QStackedWidget>("swPages")->currentWidget(), page);
    QCOMPARE(page->findChild<QLabel *>(QStringLiteral("lblNumber"))->text(), QStringLiteral("+999"));
    QCOMPARE(duration->text(), QStringLiteral("00:00:00"));

    // The echo test answers; only then does the duration run.
    QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(0).toInt() == EVENT_CALL_ANSWERED, 15000);
    QCOMPARE(duration->text(), QStringLiteral("00:00:00"));
    now += 5;
    QTRY_COMPARE(duration->text(), QStringLiteral("00:00:05"));

    for (const char *key : {"pushButton_2", "pushButton_11", "pushButton_13", "pushButton_12"}) // 1 0 # *
        QTest::mouseClick(page->findChild<QPushButton *>(QString::fromLatin1(key)), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(newestCall(server->databasePath()).value_or(CallRow{}).dtmf, QStringLiteral("10#*"), 10000);
    const CallRow during = *newestCall(server->databasePath());
    QCOMPARE(during.number, QStringLiteral("999"));
    QVERIFY(during.answered);
    QVERIFY(!during.ended);

    QTest::mouseClick(page->findChild<QPushButton *>(QStringLiteral("pbHangUp")), Qt::LeftButton);
    QCOMPARE(child<QStackedWidget>("swPages")->currentWidget()->objectName(), QStringLiteral("pContacts"));
    QCOMPARE(duration->text(), QStringLiteral("00:00:00"));
    QTRY_VERIFY_WITH_TIMEOUT(serverLogged(QStringLiteral("POST /History/PlacedCallsDataAPI.html 200")), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(newestCall(server->databasePath()).value_or(CallRow{}).ended, 10000);
    // The engine then reports the free line, which hangs up once more.
    QTRY_VERIFY_WITH_TIMEOUT(log.lines().contains(QStringLiteral("No active calls")), 10000);

    const QStringList lines = log.lines();
    const QStringList connect = lines.filter(QStringLiteral("Connect status: "));
    QCOMPARE(connect.size(), 1);
    QVERIFY(connect.at(0) != QStringLiteral("Connect status: 0"));
    QVERIFY(lines.contains(QStringLiteral("\"1000:********@127.0.0.1:%1/999\"").arg(server->iaxPort())));
    QVERIFY(lines.filter(QStringLiteral("s3cret-1000")).isEmpty());
    QVERIFY(lines.contains(QStringLiteral("Active call going on")));
    QVERIFY(child<QWidget>("wCall")->isEnabled());
}

void TestTelephonyEndToEnd::refusedRegistrationShowsInStatusBar()
{
    // The phone server holds another IAX2 password for the account than the
    // one the web service hands out at login: a second devserver whose
    // database was changed while it was stopped.
    DevServer phoneServer;
    QString error;
    QVERIFY2(phoneServer.start(&error), qPrintable(error));
    phoneServer.stop();
    QVERIFY(phoneServer.changeOneRow(
        QStringLiteral("UPDATE accounts SET iax_password = 'changed-elsewhere' WHERE iax_username = '1000'")));
    QVERIFY2(phoneServer.start(&error), qPrintable(error));

    startWindow(phoneServer.iaxPort());
    // The request was taken, so the call area opens as before ...
    QVERIFY(child<QWidget>("wCall")->isEnabled());
    // ... but the status bar tells the truth.
    QTRY_COMPARE_WITH_TIMEOUT(registrationText(), QStringLiteral("Registration refused: check your account"), 15000);
}

QTEST_MAIN(TestTelephonyEndToEnd)
#include "tst_telephony_e2e.moc"
