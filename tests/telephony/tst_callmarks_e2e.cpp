// The call page's marks on real calls: the real main window and engine,
// the devserver's echo test, once clean and encrypted (the devserver's
// default), once in the clear with the voice it sends back impaired for the
// first seconds of the call.
#include "app/tmainwindow.h"
#include "base/tevent.h"
#include "devserver_process.h"
#include "testsupport.h"
#include "views/tlogin.h"
#include "views/tcalldialog.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

constexpr int kLong = 20000;

} // namespace

class TestCallMarksEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void cleanCallIsGoodAndEncrypted();
    void impairedCallIsPoorUntilTheImpairmentEnds();

private:
    void callEchoTest(const QStringList &serverArguments);
    QLabel *mark(const char *name) { return window->findChild<QLabel *>(QString::fromLatin1(name)); }
    // The first word of the quality mark, or nothing while it is hidden.
    QString quality()
    {
        QLabel *label = mark("lblQuality");
        return label->isVisible() ? label->accessibleName().section(QLatin1Char(' '), 0, 0) : QString();
    }

    std::unique_ptr<DevServer> server;
    std::unique_ptr<SettingsSandbox> sandbox;
    std::unique_ptr<TMainWindow> window;
};

void TestCallMarksEndToEnd::cleanup()
{
    if (window)
        window->findChild<QPushButton *>(QStringLiteral("pbHangUp"))->click();
    setMainWindow(nullptr);
    window.reset();
    sandbox.reset();
    server.reset();
}

void TestCallMarksEndToEnd::callEchoTest(const QStringList &serverArguments)
{
    server = std::make_unique<DevServer>(serverArguments);
    QString error;
    QVERIFY2(server->start(&error), qPrintable(error));
    qputenv("ONDAVOX_WEB_BASE", QByteArray("http://127.0.0.1:") + QByteArray::number(server->port()));
    qputenv("ONDAVOX_IAX2_HOST", QByteArray("127.0.0.1:") + QByteArray::number(server->iaxPort()));
    sandbox = std::make_unique<SettingsSandbox>();
    sandbox->storeLogin(QString::fromLatin1(kDemoEmail), passwordDigest(QString::fromLatin1(kDemoPassword)));
    window = std::make_unique<TMainWindow>();
    setMainWindow(window.get());
    window->show();
    QTRY_COMPARE_WITH_TIMEOUT(window->findChild<QLabel *>(QStringLiteral("lblRegistration"))->text(),
                              QStringLiteral("Registered"), kLong);

    QSignalSpy status(window.get(), &TMainWindow::phoneStatus);
    window->findChild<QLineEdit *>(QStringLiteral("leNumber"))->setText(QStringLiteral("999"));
    window->findChild<QPushButton *>(QStringLiteral("pbCall"))->click();
    QVERIFY(!mark("lblQuality")->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(0).toInt() == EVENT_CALL_ANSWERED, kLong);
}

void TestCallMarksEndToEnd::cleanCallIsGoodAndEncrypted()
{
    callEchoTest({});
    QTRY_COMPARE_WITH_TIMEOUT(quality(), QStringLiteral("Good"), kLong);
    qInfo("%s", qPrintable(mark("lblQuality")->accessibleName()));
    QVERIFY(mark("lblEncryption")->isVisible());
    QCOMPARE(mark("lblEncryption")->accessibleName(), QStringLiteral("Encrypted call"));
}

void TestCallMarksEndToEnd::impairedCallIsPoorUntilTheImpairmentEnds()
{
    // A tenth of the echo lost and the rest up to 60 ms late, for the first
    // 15 s of the call; clean after that.
    callEchoTest({QStringLiteral("--iax-loss"), QStringLiteral("10"), QStringLiteral("--iax-jitter"), QStringLiteral("60"),
                  QStringLiteral("--iax-impair-for"), QStringLiteral("15"), QStringLiteral("--encryption"),
                  QStringLiteral("off")});
    QCOMPARE(mark("lblEncryption")->accessibleName(), QStringLiteral("Not encrypted"));
    QElapsedTimer sinceAnswer;
    sinceAnswer.start();

    // What the mark says, every 100 ms, while the impairment lasts.
    QStringList seen;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (sinceAnswer.elapsed() < 14000 && !quality().isEmpty())
            seen << quality();
    });
    watch.start(100);
    QTRY_VERIFY_WITH_TIMEOUT(seen.contains(QLatin1String("Poor")) || seen.contains(QLatin1String("Bad")), 14000);
    qInfo("impaired: %s", qPrintable(mark("lblQuality")->accessibleName()));
    QTRY_VERIFY_WITH_TIMEOUT(sinceAnswer.elapsed() >= 14000, kLong);
    QVERIFY2(!seen.contains(QLatin1String("Good")), qPrintable(seen.join(QLatin1Char(' '))));

    // The mark follows the call back once the impairment is over.
    QTRY_COMPARE_WITH_TIMEOUT(quality(), QStringLiteral("Good"), kLong);
    qInfo("recovered %lld ms after the answer: %s", sinceAnswer.elapsed(), qPrintable(mark("lblQuality")->accessibleName()));
}

QTEST_MAIN(TestCallMarksEndToEnd)
#include "tst_callmarks_e2e.moc"
