// Exit in the middle of an echo call, as the program's own entry point runs
// it: the real main window, the real engine, the devserver. The program's
// loop ends, the call must end with it (the devserver stops charging at that
// moment, not when it gives up on a silent peer), and nothing the engine's
// thread still reports may reach a window that is going away. Run under the
// sanitizers, the rest of the process's end is checked too.
#include "views/tlogin.h"
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "devserver_process.h"
#include "testsupport.h"

#include <QAction>
#include <QDateTime>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <sqlite3.h>

#include <optional>

namespace {

struct CallTimes
{
    qint64 answer = 0;
    std::optional<qint64> end;
    int costCents = 0;
};

std::optional<CallTimes> newestCall(const QString &databasePath)
{
    sqlite3 *db = nullptr;
    std::optional<CallTimes> row;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_open_v2(databasePath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        if (sqlite3_prepare_v2(db, "SELECT answer_time, end_time, cost_cents FROM calls ORDER BY id DESC LIMIT 1", -1,
                               &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW) {
            CallTimes times;
            times.answer = sqlite3_column_int64(statement, 0);
            if (sqlite3_column_type(statement, 1) != SQLITE_NULL)
                times.end = sqlite3_column_int64(statement, 1);
            times.costCents = sqlite3_column_int(statement, 2);
            row = times;
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return row;
}

} // namespace

class TestExitDuringCall : public QObject
{
    Q_OBJECT

private slots:
    void exitFromTheCreditMenuEndsTheCallAtOnce();
};

void TestExitDuringCall::exitFromTheCreditMenuEndsTheCallAtOnce()
{
    DevServer server;
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    qputenv("ONDAVOX_WEB_BASE", QByteArray("http://127.0.0.1:") + QByteArray::number(server.port()));
    qputenv("ONDAVOX_IAX2_HOST", QByteArray("127.0.0.1:") + QByteArray::number(server.iaxPort()));
    SettingsSandbox sandbox;
    sandbox.storeLogin(QString::fromLatin1(kDemoEmail), passwordDigest(QString::fromLatin1(kDemoPassword)));

    // As the entry point does it; the window is never destroyed before the end.
    endTelephonyAtQuit();
    auto *window = new TMainWindow;
    setMainWindow(window);
    window->show();
    QTRY_VERIFY_WITH_TIMEOUT(window->findChild<QWidget *>(QStringLiteral("wCall"))->isEnabled(), 15000);

    QSignalSpy status(window, &TMainWindow::phoneStatus);
    window->findChild<QLineEdit *>(QStringLiteral("leNumber"))->setText(QStringLiteral("999"));
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("pbCall")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(0).toInt() == EVENT_CALL_ANSWERED, 15000);
    // Long enough to be charged, and for the engine to be busy with voice.
    QTest::qWait(2500);
    QVERIFY(newestCall(server.databasePath()).value_or(CallTimes{}).end == std::nullopt);

    // This desktop has no tray: Exit is in the credit button's menu.
    QMenu *credit = window->findChild<QPushButton *>(QStringLiteral("pbCreditAmount"))->menu();
    QVERIFY(credit);
    QAction *exit = nullptr;
    for (QAction *action : credit->actions())
        if (action->text() == QLatin1String("Exit"))
            exit = action;
    QVERIFY(exit);
    QTimer::singleShot(0, exit, &QAction::trigger);
    const qint64 exitedAt = QDateTime::currentSecsSinceEpoch();
    QCOMPARE(QCoreApplication::exec(), 0);

    // The engine has been shut down: its hang-up went out before the loop
    // returned, so the server ended the call then, not a minute later.
    QTRY_VERIFY_WITH_TIMEOUT(newestCall(server.databasePath()).value_or(CallTimes{}).end.has_value(), 5000);
    const CallTimes call = *newestCall(server.databasePath());
    QVERIFY2(*call.end >= exitedAt - 1 && *call.end <= exitedAt + 2,
             qPrintable(QStringLiteral("exit at %1, call ended at %2").arg(exitedAt).arg(*call.end)));
    QVERIFY(call.answer > 0 && *call.end >= call.answer);
    // Events the engine might still send are dropped, not delivered.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    setMainWindow(nullptr);
    delete window;
}

QTEST_MAIN(TestExitDuringCall)
#include "tst_exitduringcall.moc"
