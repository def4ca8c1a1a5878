// The whole program against the real Asterisk: the devserver is only the web
// service, handing out at login the IAX2 account that Asterisk knows, under
// the entry that requires AES-128; the program registers there, shows
// "Registered", calls the echo test typed on its keypad line, shows the call
// as encrypted and hears its microphone come back. Screenshots of each
// step go to shots/asterisk-echo/.
#include "views/tlogin.h"
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "asterisk_service.h"
#include "audio_analysis.h"
#include "devserver_process.h"
#include "testsupport.h"
#include "wavfile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int kLong = 30000; // generous: the machine may be busy

interop::AsteriskPeer peer;

} // namespace

class TestAsteriskJourney : public QObject
{
    Q_OBJECT

public:
    explicit TestAsteriskJourney(DevServer *server) : server(server) {}

private slots:
    void initTestCase();
    void cleanupTestCase();
    void registersAndHearsTheEcho();

private:
    template <typename T>
    T *child(const char *name) { return window->findChild<T *>(QString::fromLatin1(name)); }
    QWidget *currentPage() { return child<QStackedWidget>("swPages")->currentWidget(); }
    void shot(const QString &name);

    DevServer *server;
    std::unique_ptr<SettingsSandbox> sandbox;
    QTemporaryDir audioDir;
    QString speakerPath;
    std::vector<std::int16_t> spoken;
    TMainWindow *window = nullptr;
    int shots = 0;
};

void TestAsteriskJourney::shot(const QString &name)
{
    QCoreApplication::processEvents();
    const QString folder = QStringLiteral(E2E_SHOTS_DIR "/asterisk-echo");
    if (shots == 0)
        QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString file = QStringLiteral("%1/%2-%3.png").arg(folder).arg(++shots, 2, 10, QLatin1Char('0')).arg(name);
    QVERIFY2(window->grab().save(file), qPrintable(file));
}

void TestAsteriskJourney::initTestCase()
{
    QVERIFY(audioDir.isValid());
    const QString microphonePath = audioDir.filePath(QStringLiteral("microphone.wav"));
    speakerPath = audioDir.filePath(QStringLiteral("speaker.wav"));
    spoken = audiotest::speechLike(4.0, 1712);
    QVERIFY(wavfile::write(microphonePath, spoken, 8000));
    qputenv("ONDAVOX_AUDIO_IN_FILE", QFile::encodeName(microphonePath));
    qputenv("ONDAVOX_AUDIO_OUT_FILE", QFile::encodeName(speakerPath));
    qputenv("ONDAVOX_WEB_BASE", QByteArray("http://127.0.0.1:") + QByteArray::number(server->port()));
    qputenv("ONDAVOX_IAX2_HOST", peer.host().c_str());

    sandbox = std::make_unique<SettingsSandbox>();
    sandbox->storeLogin(QString::fromLatin1(kDemoEmail), passwordDigest(QString::fromLatin1(kDemoPassword)));
    window = new TMainWindow;
    setMainWindow(window);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window, kLong));
}

void TestAsteriskJourney::cleanupTestCase()
{
    setMainWindow(nullptr);
    delete window;
    window = nullptr;
    sandbox.reset();
}

void TestAsteriskJourney::registersAndHearsTheEcho()
{
    // Logged in at the web service, registered at Asterisk, which now knows
    // where the subscriber is.
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>("lblRegistration")->text(), QStringLiteral("Registered"), kLong);
    QTRY_COMPARE_WITH_TIMEOUT(child<QPushButton>("pbCreditAmount")->text(), QStringLiteral("$10.00"), kLong);
    const QString peers = QString::fromStdString(peer.cli("iax2 show peers"));
    QVERIFY2(peers.contains(QRegularExpression(QStringLiteral("^%1 +127\\.0\\.0\\.1 ").arg(QString::fromStdString(peer.encryptedUser())),
                                               QRegularExpression::MultilineOption)),
             qPrintable(peers));
    shot(QStringLiteral("registered"));

    // The echo test typed in and called.
    QSignalSpy status(window, &TMainWindow::phoneStatus);
    auto *number = child<QLineEdit>("leNumber");
    number->clear();
    QTest::keyClicks(number, QStringLiteral("999"));
    QTest::mouseClick(child<QPushButton>("pbCall"), Qt::LeftButton);
    QCOMPARE(currentPage()->objectName(), QStringLiteral("pCall"));
    QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(0).toInt() == EVENT_CALL_ANSWERED, kLong);
    // Asterisk's entry refuses calls in the clear: the call is encrypted,
    // and the page says so.
    auto *lock = currentPage()->findChild<QLabel *>(QStringLiteral("lblEncryption"));
    QVERIFY(lock->isVisible());
    QCOMPARE(lock->accessibleName(), QStringLiteral("Encrypted call"));
    QCOMPARE(lock->toolTip(), QStringLiteral("Encrypted call"));
    shot(QStringLiteral("answered"));

    // The whole spoken signal and the way there and back, in real time.
    const std::size_t enough = spoken.size() + 8000;
    QTRY_VERIFY_WITH_TIMEOUT(wavfile::read(speakerPath).samples.size() >= enough, kLong);
    QCOMPARE(status.last().at(0).toInt(), int(EVENT_CALL_ANSWERED));
    QTest::mouseClick(currentPage()->findChild<QPushButton *>(QStringLiteral("pbHangUp")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(0).toInt() == EVENT_CALL_ENDED, kLong);
    QCOMPARE(currentPage()->objectName(), QStringLiteral("pContacts"));
    shot(QStringLiteral("hung-up"));

    // What the speaker played is the microphone's signal come back.
    const wavfile::Audio heard = wavfile::read(speakerPath);
    const audiotest::Likeness likeness = audiotest::compare(spoken, heard.samples, 16000);
    qInfo("echo through Asterisk: lag %d ms, correlation %.2f whole, %.2f median window", likeness.lag / 8,
          likeness.whole, likeness.medianWindow);
    QVERIFY(likeness.lag > 0);
    QVERIFY2(likeness.medianWindow > 0.6, qPrintable(QString::number(likeness.medianWindow)));
}

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ondavox"));
    QApplication::setDesktopFileName(QStringLiteral("ondavox"));

    // The web service first: its demo subscriber is the one Asterisk gets.
    DevServer server;
    if (const int rc = startServiceAndAsterisk(server, peer, ASTERISK_PEER_SCRIPT))
        return rc;
    // The service hands out the name of the entry that requires encryption.
    if (!server.changeOneRow(QStringLiteral("UPDATE accounts SET iax_username = iax_username || '-aes' WHERE email = '%1'")
                                 .arg(QLatin1String(kDemoEmail)))) {
        qCritical("cannot hand out the encrypted entry");
        peer.down();
        return 1;
    }
    TestAsteriskJourney journey(&server);
    QTEST_SET_MAIN_SOURCE_PATH
    const int result = QTest::qExec(&journey, argc, argv);
    peer.down();
    return result;
}

#include "tst_asterisk_journey.moc"
