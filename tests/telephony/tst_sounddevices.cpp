// The phone on real sound devices: a private PulseAudio server, ALSA's pulse
// plugin, PortAudio inside the real engine, the real main window and the
// devserver's echo test. A sound server that starts after the program shows
// up when the settings open; the headset chosen there carries the call, and
// what the mouth says comes back at the ear; the level bar moves with a
// voice and not with silence; and a sound server that dies mid-call leaves
// the call running on the built-in devices.
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "audio_analysis.h"
#include "iaxclient.h"
#include "devserver_process.h"
#include "views/tlogin.h"
#include "soundserver.h"
#include "stallwatch.h"
#include "telephony/audiodevices.h"
#include "telephony/telephony.h"
#include "views/tsettings.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

#include <sqlite3.h>

#include <cstdio>
#include <dlfcn.h>
#include <memory>

namespace {

constexpr int kSkipped = 77;
constexpr qint64 kCallMs = 60000;
// What the speaker always has queued at the sound server (its 12 ms buffer
// less the 4 ms the server takes ahead of playing).
constexpr double kHeldByTheSpeakerMs = 8.0;
SoundServer *sound = nullptr;

// Whether the newest call of the devserver has ended.
bool newestCallEnded(const QString &databasePath)
{
    sqlite3 *db = nullptr;
    bool ended = false;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_open_v2(databasePath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        if (sqlite3_prepare_v2(db, "SELECT end_time IS NOT NULL FROM calls ORDER BY id DESC LIMIT 1", -1,
                               &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW)
            ended = sqlite3_column_int(statement, 0) != 0;
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return ended;
}

int indexOfDevice(QComboBox *box, const QString &name)
{
    for (int i = 0; i < box->count(); ++i)
        if (box->itemText(i) == name)
            return i;
    return -1;
}

} // namespace

class TestSoundDevices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    // In this order: the engine starts before the sound server does.
    void soundServerStartedLaterIsListedWhenTheSettingsOpen();
    void chosenHeadsetCarriesTheEchoCall();
    void levelBarMovesWithAVoiceNotWithSilence();
    void storedHeadsetCarriesACallPlacedRightAfterStart();
    void microphoneThatWillNotStartLeavesTheCallUp();
    void soundServerDyingMidCallLeavesTheCallUp();

private:
    template <typename T>
    T *child(const char *name) { return window->findChild<T *>(QString::fromLatin1(name)); }
    // Opens the settings dialog from the toolbar and runs action in it.
    void inSettings(const std::function<void(TSettings *)> &action);
    bool callAnswered(QSignalSpy &status);
    void placeEchoCall();
    // An echo call on the headset: what the mouth says comes back at the ear.
    void verifyEchoThroughTheHeadset();

    std::unique_ptr<DevServer> server;
    SettingsSandbox *sandbox = nullptr;
    std::unique_ptr<TMainWindow> window;
};

void TestSoundDevices::initTestCase()
{
    server = std::make_unique<DevServer>();
    QString error;
    QVERIFY2(server->start(&error), qPrintable(error));
    qputenv("ONDAVOX_WEB_BASE", QByteArray("http://127.0.0.1:") + QByteArray::number(server->port()));
    qputenv("ONDAVOX_IAX2_HOST", QByteArray("127.0.0.1:") + QByteArray::number(server->iaxPort()));
    sandbox = new SettingsSandbox;
    sandbox->storeLogin(QString::fromLatin1(kDemoEmail), passwordDigest(QString::fromLatin1(kDemoPassword)));
    // Voice processing is left as a user has it: on, for sound cards.
    window.reset(new TMainWindow);
    setMainWindow(window.get());
    window->show();
    QTRY_VERIFY_WITH_TIMEOUT(child<QWidget>("wCall")->isEnabled(), 15000);
}

void TestSoundDevices::cleanupTestCase()
{
    setMainWindow(nullptr);
    window.reset();
    delete sandbox;
    server.reset();
}

void TestSoundDevices::inSettings(const std::function<void(TSettings *)> &action)
{
    bool ran = false;
    onNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<TSettings *>(modal);
        if (dialog)
            action(dialog);
        ran = dialog != nullptr;
        if (modal->isVisible())
            modal->close();
    }, 15000);
    child<QPushButton>("pbSettings")->click();
    QVERIFY(ran);
}

bool TestSoundDevices::callAnswered(QSignalSpy &status)
{
    return !status.isEmpty() && status.last().at(0).toInt() == EVENT_CALL_ANSWERED;
}

void TestSoundDevices::placeEchoCall()
{
    child<QLineEdit>("leNumber")->setText(QStringLiteral("999"));
    QTest::mouseClick(child<QPushButton>("pbCall"), Qt::LeftButton);
}

namespace {
QStringList itemsOf(TSettings *dialog, const char *box)
{
    QStringList items;
    auto *list = dialog->findChild<QComboBox *>(QString::fromLatin1(box));
    for (int i = 0; list && i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}
} // namespace

void TestSoundDevices::soundServerStartedLaterIsListedWhenTheSettingsOpen()
{
    QStringList before;
    inSettings([&](TSettings *dialog) { before = itemsOf(dialog, "cbInputDevice"); });
    QVERIFY2(!before.contains(QStringLiteral("headset_mic")), qPrintable(before.join(QLatin1String(", "))));

    QString error;
    QVERIFY2(sound->start(&error), qPrintable(error));
    QStringList inputs;
    QStringList outputs;
    inSettings([&](TSettings *dialog) {
        inputs = itemsOf(dialog, "cbInputDevice");
        outputs = itemsOf(dialog, "cbOutputDevice");
    });
    QVERIFY2(inputs.contains(QStringLiteral("headset_mic")), qPrintable(inputs.join(QLatin1String(", "))));
    QVERIFY2(outputs.contains(QStringLiteral("headset_speaker")), qPrintable(outputs.join(QLatin1String(", "))));
    // The built-in devices stay as the fallbacks.
    QVERIFY(inputs.contains(QStringLiteral("Silent microphone (built in)")));
    // Nothing was chosen yet, so the engine now uses the desktop's default
    // devices rather than staying on the silent fallbacks it started with.
    const EngineDevices engine = engineDevices();
    auto nameOf = [&engine](int id) {
        for (const DeviceEntry &device : engine.devices)
            if (device.id == id)
                return device.name;
        return QString();
    };
    QCOMPARE(nameOf(engine.input), QStringLiteral("default"));
    QCOMPARE(nameOf(engine.output), QStringLiteral("default"));
}

void TestSoundDevices::chosenHeadsetCarriesTheEchoCall()
{
    if (!sound->running())
        QSKIP("no sound server");
    // The user picks the headset on both sides and saves.
    inSettings([](TSettings *dialog) {
        auto *in = dialog->findChild<QComboBox *>(QStringLiteral("cbInputDevice"));
        auto *out = dialog->findChild<QComboBox *>(QStringLiteral("cbOutputDevice"));
        in->setCurrentIndex(indexOfDevice(in, QStringLiteral("headset_mic")));
        out->setCurrentIndex(indexOfDevice(out, QStringLiteral("headset_speaker")));
        dialog->findChild<QPushButton *>(QStringLiteral("pbSave"))->click();
    });

    // A minute of call, the way people talk: speech at its start and again
    // at its end, so the delay is seen before and after the jitter buffer
    // has settled, and the speaker's underruns are counted over the minute.
    const std::vector<std::int16_t> speech = audiotest::speechLike(4.0, 15);
    QVERIFY(sound->startRecording());
    QSignalSpy status(window.get(), &TMainWindow::phoneStatus);
    placeEchoCall();
    QTRY_VERIFY_WITH_TIMEOUT(callAnswered(status), 15000);
    QElapsedTimer call;
    call.start();
    auto machine = std::make_unique<StallWatch>();
    QTest::qWait(500); // the devices are open
    QVERIFY(sound->playIntoMouth(speech));
    QTRY_VERIFY_WITH_TIMEOUT(!sound->playing(), 20000);
    QTest::qWait(int(std::max<qint64>(0, kCallMs - 6000 - call.elapsed())));
    QVERIFY(sound->playIntoMouth(speech));
    QTRY_VERIFY_WITH_TIMEOUT(!sound->playing(), 20000);
    QTest::qWait(1500); // the echo's tail
    const int underruns = iaxc_audio_underruns();
    const qint64 callMs = call.elapsed();
    const double stallMs = machine->longestMs();
    machine.reset();
    const SoundServer::Recording room = sound->stopRecording();
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("pbHangUp")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(newestCallEnded(server->databasePath()), 10000);

    // Where each speech starts in the mouth channel is where it was said.
    audiotest::Likeness best;
    std::size_t from = 0;
    for (const char *when : {"at the start", "after a minute"}) {
        std::size_t said = from;
        while (said < room.mouth.size() && std::abs(room.mouth[said]) < 500)
            ++said;
        QVERIFY2(said + speech.size() <= room.mouth.size(), "the mouth channel does not hold the speech");
        const std::vector<std::int16_t> mouth(room.mouth.begin() + std::ptrdiff_t(said),
                                              room.mouth.begin() + std::ptrdiff_t(said + speech.size()));
        const std::size_t earEnd = std::min(room.ear.size(), said + speech.size() + 8000);
        const std::vector<std::int16_t> ear(room.ear.begin() + std::ptrdiff_t(said),
                                            room.ear.begin() + std::ptrdiff_t(earEnd));
        const audiotest::Likeness heard = audiotest::compare(mouth, ear, 8000);
        std::printf("mouth to ear through the sound server: %d ms %s, likeness %.3f whole, %.3f median window\n",
                    heard.lag / 8, when, heard.whole, heard.medianWindow);
        // Two sound-server hops, the network and the jitter buffer, but well under a second.
        QVERIFY2(heard.lag > 0 && heard.lag < 8000, qPrintable(QString::number(heard.lag)));
        if (heard.medianWindow > best.medianWindow)
            best = heard;
        from = said + speech.size();
    }
    std::printf("speaker underruns in a %.0f s call: %d; the machine's longest stall: %.1f ms\n", callMs / 1000.0,
                underruns, stallMs);
    // GSM, echo cancelling and noise suppression, and the sound server's
    // underruns on a busy machine: 0.48 to 0.84 seen here; unrelated audio
    // scores below 0.1. The better of the two counts.
    QVERIFY2(best.medianWindow > 0.35, qPrintable(QString::number(best.medianWindow)));
    QVERIFY2(underruns >= 0, "the engine counts no underruns for a sound card");
    // The speaker always holds 8 ms or more; only a machine that stopped
    // for longer (a virtual machine's host here does, for 18 to 78 ms every
    // two minutes or so) can run it dry.
    if (stallMs < kHeldByTheSpeakerMs)
        QCOMPARE(underruns, 0);
}

void TestSoundDevices::verifyEchoThroughTheHeadset()
{
    // A busy machine starves the sound server now and then (underruns, a
    // lost stretch of the recording): the better of two calls counts.
    const std::vector<std::int16_t> speech = audiotest::speechLike(4.0, 15);
    audiotest::Likeness heard;
    for (int attempt = 0; attempt < 2 && heard.medianWindow <= 0.35; ++attempt) {
        QVERIFY(sound->startRecording());
        QSignalSpy status(window.get(), &TMainWindow::phoneStatus);
        placeEchoCall();
        QTRY_VERIFY_WITH_TIMEOUT(callAnswered(status), 15000);
        QTest::qWait(500); // the devices are open
        QVERIFY(sound->playIntoMouth(speech));
        QTRY_VERIFY_WITH_TIMEOUT(!sound->playing(), 20000);
        QTest::qWait(1500); // the echo's tail
        const SoundServer::Recording room = sound->stopRecording();
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("pbHangUp")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(newestCallEnded(server->databasePath()), 10000);

        // Where the speech starts in the mouth channel is where it was said.
        std::size_t said = 0;
        while (said < room.mouth.size() && std::abs(room.mouth[said]) < 500)
            ++said;
        QVERIFY2(said + speech.size() <= room.mouth.size(), "the mouth channel does not hold the speech");
        const std::vector<std::int16_t> mouth(room.mouth.begin() + std::ptrdiff_t(said),
                                              room.mouth.begin() + std::ptrdiff_t(said + speech.size()));
        const std::vector<std::int16_t> ear(room.ear.begin() + std::ptrdiff_t(said), room.ear.end());
        heard = audiotest::compare(mouth, ear, 8000);
        std::printf("mouth to ear through the sound server: %d ms, likeness %.3f whole, %.3f median window\n",
                    heard.lag / 8, heard.whole, heard.medianWindow);
    }
    // GSM, echo cancelling and noise suppression, and the sound server's
    // underruns on a busy machine: 0.48 to 0.84 seen here; unrelated audio
    // scores below 0.1.
    QVERIFY2(heard.medianWindow > 0.35, qPrintable(QString::number(heard.medianWindow)));
    // Two sound-server hops, the network and the jitter buffer, but well under a second.
    QVERIFY2(heard.lag > 0 && heard.lag < 8000, qPrintable(QString::number(heard.lag)));
}

void TestSoundDevices::levelBarMovesWithAVoiceNotWithSilence()
{
    if (!sound->running())
        QSKIP("no sound server");
    int quietMost = -1;
    int loudMost = -1;
    inSettings([&](TSettings *dialog) {
        auto *bar = dialog->findChild<QProgressBar *>(QStringLiteral("barInputLevel"));
        if (!bar)
            return;
        // The headset chosen before is the microphone; the room is quiet.
        QElapsedTimer clock;
        clock.start();
        quietMost = bar->value();
        while (clock.elapsed() < 1500) {
            QTest::qWait(50);
            quietMost = std::max(quietMost, bar->value());
        }
        // Then someone speaks into it.
        if (!sound->playIntoMouth(audiotest::speechLike(2.0, 7)))
            return;
        loudMost = bar->value();
        while (sound->playing() && clock.elapsed() < 15000) {
            QTest::qWait(50);
            loudMost = std::max(loudMost, bar->value());
        }
    });
    std::printf("level bar: %d%% in silence, %d%% with a voice\n", quietMost, loudMost);
    QVERIFY2(quietMost >= 0 && quietMost <= 5, qPrintable(QString::number(quietMost)));
    QVERIFY2(loudMost >= 50, qPrintable(QString::number(loudMost)));
}

void TestSoundDevices::storedHeadsetCarriesACallPlacedRightAfterStart()
{
    if (!sound->running())
        QSKIP("no sound server");
    // The program ends and starts again with the headset stored. The engine
    // looks for the cards on a thread of its own; the stored choice is
    // handed over at once, long before they are found, and still holds.
    setMainWindow(nullptr);
    window.reset();
    shutdownEngine();
    QVERIFY(startEngine(PhoneState()));
    applyStoredDevices();
    const EngineDevices engine = engineDevices();
    QStringList used;
    for (const DeviceEntry &device : engine.devices)
        if (device.id == engine.input || device.id == engine.output)
            used << device.name;
    used.sort();
    QCOMPARE(used, (QStringList{QStringLiteral("headset_mic"), QStringLiteral("headset_speaker")}));

    // The first call, as soon as the phone is registered, is heard on it.
    window.reset(new TMainWindow);
    setMainWindow(window.get());
    window->show();
    QTRY_VERIFY_WITH_TIMEOUT(child<QWidget>("wCall")->isEnabled(), 15000);
    verifyEchoThroughTheHeadset();
}

void TestSoundDevices::microphoneThatWillNotStartLeavesTheCallUp()
{
    if (!sound->running())
        QSKIP("no sound server");
    // A microphone that opens but fails to start, as one does whose sound
    // server dies in between: the call goes on without it, and ends when asked.
    auto chooseMicrophone = [this](const QString &name) {
        int index = -1;
        inSettings([&](TSettings *dialog) {
            auto *in = dialog->findChild<QComboBox *>(QStringLiteral("cbInputDevice"));
            index = indexOfDevice(in, name);
            in->setCurrentIndex(index);
            dialog->findChild<QPushButton *>(QStringLiteral("pbSave"))->click();
        });
        return index >= 0;
    };
    QVERIFY(chooseMicrophone(QStringLiteral("dying_mic")));
    QSignalSpy status(window.get(), &TMainWindow::phoneStatus);
    placeEchoCall();
    QTRY_VERIFY_WITH_TIMEOUT(callAnswered(status), 15000);
    QTest::qWait(3000); // past the engine's two seconds' grace for a silent device
    QVERIFY(callAnswered(status));
    QVERIFY(!newestCallEnded(server->databasePath()));
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("pbHangUp")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(newestCallEnded(server->databasePath()), 10000);
    QVERIFY(chooseMicrophone(QStringLiteral("headset_mic")));
}

void TestSoundDevices::soundServerDyingMidCallLeavesTheCallUp()
{
    if (!sound->running())
        QSKIP("no sound server");
    // PortAudio, opened later, must find the engine's guard for its calls
    // into ALSA before ALSA's own; a linker change would lose it silently.
    Dl_info guard{};
    QVERIFY(::dladdr(::dlsym(RTLD_DEFAULT, "snd_pcm_poll_descriptors_revents"), &guard));
    QVERIFY2(QByteArray(guard.dli_fname).contains("libondavox-iax"), guard.dli_fname);
    QSignalSpy status(window.get(), &TMainWindow::phoneStatus);
    placeEchoCall();
    QTRY_VERIFY_WITH_TIMEOUT(callAnswered(status), 15000);
    QTest::qWait(500);

    sound->stop();
    // The engine notices within its two-second grace and goes on with the
    // built-in devices: the call stays up, at the server too.
    QTest::qWait(4000);
    QVERIFY(callAnswered(status));
    QCOMPARE(child<QStackedWidget>("swPages")->currentWidget()->objectName(), QStringLiteral("pCall"));
    QVERIFY(!newestCallEnded(server->databasePath()));

    // PortAudio may take long to give up on the dead streams; the hang-up
    // must not wait behind that.
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("pbHangUp")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(newestCallEnded(server->databasePath()), 10000);

    // The sound server comes back (a desktop restarts it): the next call is
    // on the headset again, not on the fallbacks the last one ended with.
    QString error;
    QVERIFY2(sound->start(&error), qPrintable(error));
    verifyEchoThroughTheHeadset();
    // And PortAudio let go of the dead streams rather than spin on them for
    // good: the cards are listed again.
    QStringList inputs;
    inSettings([&](TSettings *dialog) { inputs = itemsOf(dialog, "cbInputDevice"); });
    QVERIFY2(inputs.contains(QStringLiteral("headset_mic")), qPrintable(inputs.join(QLatin1String(", "))));

    // With the server gone again, the settings still open, listing what is left.
    sound->stop();
    inSettings([&](TSettings *dialog) { inputs = itemsOf(dialog, "cbInputDevice"); });
    QVERIFY(!inputs.isEmpty());
}

int main(int argc, char *argv[])
{
    // Set up before the application and the engine read the environment;
    // started only in the first test, after the engine has looked for cards.
    SoundServer server;
    sound = &server;
    {
        QString error;
        if (!server.start(&error)) {
            std::printf("SKIPPED: no sound server here: %s\n", qPrintable(error));
            return kSkipped;
        }
        server.stop();
    }
    QApplication app(argc, argv);
    TestSoundDevices test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sounddevices.moc"
