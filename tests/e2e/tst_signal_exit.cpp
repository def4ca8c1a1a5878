// The program ended by the system in the middle of a call, against the real
// Asterisk: a shutdown's SIGTERM, a terminal's SIGINT or SIGHUP. Each must end
// it as Exit does: the call hung up and the registration withdrawn before
// the process goes, so that Asterisk keeps no channel (which the service
// would go on charging) and no registration (to which it would route calls),
// and the process exits with 0 within two seconds.
//
// The program runs as a process of its own: this test started again with
// "--program", which builds it as the entry point does and, once it is
// registered, dials the echo test as a subscriber would.
#include "app/systemquit.h"
#include "app/tmainwindow.h"
#include "asterisk_service.h"
#include "audio_analysis.h"
#include "devserver_process.h"
#include "testsupport.h"
#include "views/tlogin.h"
#include "wavfile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>

namespace {

constexpr int kLong = 30000; // generous: the machine may be busy

interop::AsteriskPeer peer;

// The program as its entry point builds it, plus a subscriber who calls the
// echo test once the phone is registered.
int runProgram(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ondavox"));
    exitOnSystemRequests();
    endTelephonyAtQuit();
    auto *window = new TMainWindow;
    setMainWindow(window);
    window->show();

    QTimer subscriber;
    QObject::connect(&subscriber, &QTimer::timeout, [&subscriber, window] {
        auto *registration = window->findChild<QLabel *>(QStringLiteral("lblRegistration"));
        auto *call = window->findChild<QPushButton *>(QStringLiteral("pbCall"));
        if (!registration || registration->text() != QLatin1String("Registered") || !call->isEnabled())
            return;
        subscriber.stop();
        window->findChild<QLineEdit *>(QStringLiteral("leNumber"))->setText(QStringLiteral("999"));
        call->click();
        std::printf("dialled\n");
        std::fflush(stdout);
    });
    subscriber.start(100);
    return app.exec();
}

} // namespace

class TestSignalExit : public QObject
{
    Q_OBJECT

public:
    explicit TestSignalExit(DevServer *server) : server(server) {}

private slots:
    void initTestCase();
    void endsTheCallAndTheRegistration_data();
    void endsTheCallAndTheRegistration();

private:
    bool registeredAtAsterisk() const;

    DevServer *server;
    QTemporaryDir audioDir;
};

bool TestSignalExit::registeredAtAsterisk() const
{
    const QString peers = QString::fromStdString(peer.cli("iax2 show peers"));
    return peers.contains(QRegularExpression(QStringLiteral("^%1 +127\\.0\\.0\\.1 ").arg(QString::fromStdString(peer.user())),
                                             QRegularExpression::MultilineOption));
}

void TestSignalExit::initTestCase()
{
    QVERIFY(audioDir.isValid());
    const QString microphone = audioDir.filePath(QStringLiteral("microphone.wav"));
    QVERIFY(wavfile::write(microphone, audiotest::speechLike(30.0, 99), 8000));
    qputenv("ONDAVOX_AUDIO_IN_FILE", QFile::encodeName(microphone));
    qputenv("ONDAVOX_AUDIO_OUT_FILE", QFile::encodeName(audioDir.filePath(QStringLiteral("speaker.wav"))));
    qputenv("ONDAVOX_WEB_BASE", QByteArray("http://127.0.0.1:") + QByteArray::number(server->port()));
    qputenv("ONDAVOX_IAX2_HOST", peer.host().c_str());
}

void TestSignalExit::endsTheCallAndTheRegistration_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestSignalExit::endsTheCallAndTheRegistration()
{
    QFETCH(int, signalNumber);
    SettingsSandbox sandbox;
    sandbox.storeLogin(QString::fromLatin1(kDemoEmail), passwordDigest(QString::fromLatin1(kDemoPassword)));

    QProcess program;
    program.setProgram(QCoreApplication::applicationFilePath());
    program.setArguments({QStringLiteral("--program")});
    program.setProcessChannelMode(QProcess::SeparateChannels);
    program.setStandardErrorFile(audioDir.filePath(QStringLiteral("program.log")));
    program.start();
    QVERIFY(program.waitForStarted(kLong));
    auto kill = qScopeGuard([&program] {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
    });

    // Registered, then on the echo call, as Asterisk sees it.
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += program.readAllStandardOutput()).contains("dialled")
                                 || program.state() != QProcess::Running,
                             kLong);
    QVERIFY2(program.state() == QProcess::Running, "the program ended by itself");
    QTRY_VERIFY_WITH_TIMEOUT(QString::fromStdString(peer.cli("core show channels")).contains(QLatin1String("1 active channel")),
                             kLong);
    QVERIFY(registeredAtAsterisk());
    QTest::qWait(1000); // the echo is going both ways

    QElapsedTimer sinceSignal;
    sinceSignal.start();
    QVERIFY(::kill(static_cast<pid_t>(program.processId()), signalNumber) == 0);
    QVERIFY2(program.waitForFinished(2000), "still running 2 s after the signal");
    const qint64 took = sinceSignal.elapsed();
    qInfo("ended %lld ms after the signal", took);
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    // Nothing left at the server once the process is gone.
    const QString channels = QString::fromStdString(peer.cli("core show channels"));
    QVERIFY2(channels.contains(QLatin1String("0 active channels")), qPrintable(channels));
    QVERIFY2(!registeredAtAsterisk(), qPrintable(QString::fromStdString(peer.cli("iax2 show peers"))));
    QVERIFY2(sinceSignal.elapsed() < 2000 + 1500, "Asterisk's answers came late"); // the CLI itself takes a moment
}

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--program") == 0)
        return runProgram(argc, argv);

    QApplication app(argc, argv);
    DevServer server;
    if (const int rc = startServiceAndAsterisk(server, peer, ASTERISK_PEER_SCRIPT))
        return rc;
    TestSignalExit test(&server);
    QTEST_SET_MAIN_SOURCE_PATH
    const int result = QTest::qExec(&test, argc, argv);
    peer.down();
    return result;
}

#include "tst_signal_exit.moc"
