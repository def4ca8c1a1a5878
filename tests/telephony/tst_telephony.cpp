// The main window's side of the engine, against the recording double: the
// start-up order, registration and its status, dialing, hang-up, the call
// states coming from the engine's thread, devices and logout.
#include "views/tlogin.h"
#include "base/settings.h"
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "debuglog.h"
#include "dial_string.h"
#include "engine_double.h"
#include "httpresponder.h"
#include "views/tcalldialog.h"
#include "telephony/telephony.h"
#include "views/tsettings.h"
#include "testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

using Args = std::vector<std::string>;

const QByteArray historyPath = "/History/PlacedCallsDataAPI.html";

std::ptrdiff_t indexOf(const std::vector<std::string> &names, const std::string &name, std::size_t from = 0)
{
    auto it = std::find(names.begin() + std::ptrdiff_t(from), names.end(), name);
    return it == names.end() ? -1 : it - names.begin();
}

QStringList bitLines(int state)
{
    auto word = [state](int bit) { return (state & bit) ? QStringLiteral("true") : QStringLiteral("false"); };
    return {QStringLiteral("active: ") + word(0x02), QStringLiteral("outgoing: ") + word(0x04),
            QStringLiteral("ringing: ") + word(0x08), QStringLiteral("complete: ") + word(0x10),
            QStringLiteral("selected: ") + word(0x20)};
}

} // namespace

class TestTelephony : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void engineStartsBeforeLoginInOrder();
    void cancelledLoginRegistersNothing();
    void registrationOpensCallArea_data();
    void registrationOpensCallArea();
    void credentialsReachEngineInLatin1();
    void registrationRepliesShowInStatusBar();
    void dialStrings_data();
    void dialStrings();
    void userNameWithAColonReachesTheEngineWhole();
    void typedNumberIsDialled();
    void blankNumberDoesNothing();
    void numbersFromTheServiceThatAreNoPhoneNumbersAreRefused();
    void linkNumbers_data();
    void linkNumbers();
    void linkWaitsForRegistration();
    void refusalGivesWayToTheRegistrationState();
    void hangUpButtonEndsCall();
    void callStates_data();
    void callStates();
    void otherEventsAreIgnored();
    void storedDevicesAppliedAfterRegistration();
    void settingsButtonRunsDialogOnce();
    void logoutUnregistersBeforeNextRegistration();
    void logoutDuringACallHangsUpBeforeUnregistering();
    void initialisationFailureStopsProgram();

private:
    TMainWindow *loggedInWindow();
    template <typename T>
    T *child(const char *name) { return window->findChild<T *>(QString::fromLatin1(name)); }
    QString registrationText() { return child<QLabel>("lblRegistration") ? child<QLabel>("lblRegistration")->text() : QString(); }

    HttpResponder *responder = nullptr;
    SettingsSandbox *sandbox = nullptr;
    std::unique_ptr<TMainWindow> window;
};

void TestTelephony::init()
{
    EngineDouble::reset();
    EngineDouble::setRegisterResult(5);
    responder = new HttpResponder;
    responder->setReply("/Webservices/login.php", R"({"Username":"1000","Password":"pw","Key":"k1"})");
    responder->setReply(historyPath, "false");
    qputenv("ONDAVOX_WEB_BASE", responder->baseUrl().toUtf8());
    qputenv("ONDAVOX_IAX2_HOST", "iax.test:4570");
    sandbox = new SettingsSandbox;
    sandbox->storeLogin(QStringLiteral("demo@ondavox.com"), passwordDigest(QStringLiteral("ondavox-demo")));
}

void TestTelephony::cleanup()
{
    dialFromOutside(QString());
    setMainWindow(nullptr);
    window.reset();
    delete sandbox;
    delete responder;
    qunsetenv("ONDAVOX_WEB_BASE");
    qunsetenv("ONDAVOX_IAX2_HOST");
}

TMainWindow *TestTelephony::loggedInWindow()
{
    window.reset(new TMainWindow);
    setMainWindow(window.get());
    return window.get();
}

void TestTelephony::engineStartsBeforeLoginInOrder()
{
    loggedInWindow();
    const auto calls = EngineDouble::calls();
    QVERIFY(calls.size() >= 7);
    QCOMPARE(calls.at(0).function, std::string("iaxc_initialize"));
    QCOMPARE(calls.at(0).args, (Args{"1"}));
    QCOMPARE(calls.at(1).function, std::string("iaxc_set_formats"));
    QCOMPARE(calls.at(1).args, (Args{"2", "2"}));
    QCOMPARE(calls.at(2).function, std::string("iaxc_set_silence_threshold"));
    QCOMPARE(calls.at(2).args, (Args{"-99.0"}));
    QCOMPARE(calls.at(3).function, std::string("iaxc_set_event_callback"));
    QCOMPARE(calls.at(3).args, (Args{"callback"}));
    QCOMPARE(calls.at(4).function, std::string("iaxc_start_processing_thread"));
    // After the login: registration, then the stored devices (here none:
    // the engine keeps its own), without waiting for the engine's list.
    QCOMPARE(calls.at(5).function, std::string("iaxc_register"));
    QCOMPARE(calls.at(6).function, std::string("iaxc_audio_devices_set"));
    QCOMPARE(calls.at(6).args, (Args{"-1", "-1", "-1"}));
    QCOMPARE(indexOf(EngineDouble::functions(), "iaxc_audio_devices_get"), -1);
    QCOMPARE(responder->requestsFor("/Webservices/login.php").size(), 1);
}

void TestTelephony::cancelledLoginRegistersNothing()
{
    delete sandbox;
    sandbox = new SettingsSandbox; // no stored login: the dialog waits for the user
    onNextModal([](QWidget *dialog) { qobject_cast<QDialog *>(dialog)->reject(); });
    loggedInWindow();
    const auto names = EngineDouble::functions();
    QVERIFY(indexOf(names, "iaxc_start_processing_thread") >= 0);
    QCOMPARE(indexOf(names, "iaxc_register"), -1);
    QCOMPARE(indexOf(names, "iaxc_audio_devices_set"), -1);
    QVERIFY(!child<QWidget>("wCall")->isEnabled());
    window.reset();
    // There is no registration to withdraw.
    QCOMPARE(indexOf(EngineDouble::functions(), "iaxc_unregister"), -1);
}

void TestTelephony::registrationOpensCallArea_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("status");
    QTest::newRow("accepted request") << 5 << true << QStringLiteral("Registering...");
    QTest::newRow("refused request") << 0 << false << QStringLiteral("Cannot register the phone");
    QTest::newRow("negative id") << -1 << true << QStringLiteral("Registering...");
}

void TestTelephony::registrationOpensCallArea()
{
    QFETCH(int, result);
    QFETCH(bool, enabled);
    QFETCH(QString, status);
    EngineDouble::setRegisterResult(result);
    DebugLog log;
    loggedInWindow();
    QCOMPARE(child<QWidget>("wCall")->isEnabled(), enabled);
    QVERIFY(log.lines().contains(QStringLiteral("Connect status: %1").arg(result)));
    QCOMPARE(registrationText(), status);
}

void TestTelephony::credentialsReachEngineInLatin1()
{
    responder->setReply("/Webservices/login.php", R"({"Username":"j\u00fcrgen","Password":"pa\u00df w\u00f6rd","Key":"k1"})");
    loggedInWindow();
    const auto registrations = EngineDouble::callsOf("iaxc_register");
    QCOMPARE(registrations.size(), std::size_t(1));
    QCOMPARE(registrations.at(0).args, (Args{"j\xfcrgen", "pa\xdf w\xf6rd", "iax.test:4570"}));

    // The dial string carries the same bytes.
    child<QLineEdit>("leNumber")->setText(QStringLiteral("4412"));
    child<QPushButton>("pbCall")->click();
    QCOMPARE(EngineDouble::callsOf("iaxc_call").at(0).args, (Args{"j\xfcrgen:pa\xdf w\xf6rd@iax.test:4570/004412"}));
}

void TestTelephony::registrationRepliesShowInStatusBar()
{
    loggedInWindow();
    QCOMPARE(registrationText(), QStringLiteral("Registering..."));

    EngineDouble::deliver(EngineDouble::registrationEvent(5, IAXC_REGISTRATION_REPLY_ACK));
    QTRY_COMPARE(registrationText(), QStringLiteral("Registered"));
    EngineDouble::deliver(EngineDouble::registrationEvent(5, IAXC_REGISTRATION_REPLY_REJ));
    QTRY_COMPARE(registrationText(), QStringLiteral("Registration refused: check your account"));
    // The call area stays as the registration request left it.
    QVERIFY(child<QWidget>("wCall")->isEnabled());
    EngineDouble::deliver(EngineDouble::registrationEvent(5, IAXC_REGISTRATION_REPLY_TIMEOUT));
    QTRY_COMPARE(registrationText(), QStringLiteral("Cannot reach the phone server"));

    // An answer about another registration (an older window's) changes nothing.
    EngineDouble::deliver(EngineDouble::registrationEvent(4, IAXC_REGISTRATION_REPLY_ACK));
    EngineDouble::deliver(EngineDouble::registrationEvent(5, IAXC_REGISTRATION_REPLY_ACK));
    QTRY_COMPARE(registrationText(), QStringLiteral("Registered"));
    EngineDouble::deliver(EngineDouble::registrationEvent(4, IAXC_REGISTRATION_REPLY_REJ));
    QTest::qWait(50);
    QCOMPARE(registrationText(), QStringLiteral("Registered"));
}

void TestTelephony::dialStrings_data()
{
    QTest::addColumn<QString>("entered");
    QTest::addColumn<QString>("dialled");
    QTest::newRow("plain") << QStringLiteral("4915112345678") << QStringLiteral("004915112345678");
    QTest::newRow("plus") << QStringLiteral("+4915112345678") << QStringLiteral("004915112345678");
    QTest::newRow("already 00") << QStringLiteral("00441234567") << QStringLiteral("00441234567");
    QTest::newRow("echo test") << QStringLiteral("999") << QStringLiteral("999");
    QTest::newRow("not the echo test") << QStringLiteral("9990") << QStringLiteral("009990");
    QTest::newRow("single zero") << QStringLiteral("0123") << QStringLiteral("000123");
    QTest::newRow("written for people") << QStringLiteral("+44 (20) 7946-0123.") << QStringLiteral("00442079460123");
    QTest::newRow("blank before 999") << QStringLiteral(" 999") << QStringLiteral("999");
}

void TestTelephony::dialStrings()
{
    QFETCH(QString, entered);
    QFETCH(QString, dialled);
    loggedInWindow();
    auto *page = child<TCallDialog>("pCall");
    DebugLog log;
    // As a phone line or a history entry puts it there: no validator.
    child<QLineEdit>("leNumber")->setText(entered);
    EngineDouble::clearCalls();
    child<QPushButton>("pbCall")->click();

    const QString dial = QStringLiteral("1000:pw@iax.test:4570/") + dialled;
    QCOMPARE(EngineDouble::functions(), (std::vector<std::string>{"iaxc_call"}));
    QCOMPARE(EngineDouble::callsOf("iaxc_call").at(0).args, (Args{dial.toStdString()}));
    // The dial string is logged, but never with the IAX2 password.
    QVERIFY(log.lines().contains(QStringLiteral("\"1000:********@iax.test:4570/") + dialled + QLatin1Char('"')));
    QVERIFY(log.lines().filter(QStringLiteral(":pw@")).isEmpty());
    QCOMPARE(child<QStackedWidget>("swPages")->currentWidget(), page);
    QCOMPARE(page->findChild<QLabel *>(QStringLiteral("lblNumber"))->text(), QLatin1Char('+') + entered);
    QCOMPARE(page->findChild<QLabel *>(QStringLiteral("leCallDuration"))->text(), QStringLiteral("00:00:00"));
}

// The dial string's user name ends at its first ":"; a user name that holds
// one must still reach the server whole, and the password unchanged.
void TestTelephony::userNameWithAColonReachesTheEngineWhole()
{
    responder->setReply("/Webservices/login.php", R"({"Username":"10:00%3A","Password":"p:w@d%","Key":"k1"})");
    loggedInWindow();
    child<QLineEdit>("leNumber")->setText(QStringLiteral("4412"));
    child<QPushButton>("pbCall")->click();
    QCOMPARE(EngineDouble::callsOf("iaxc_call").size(), std::size_t(1));
    const auto dial = iax2::parseDialString(EngineDouble::callsOf("iaxc_call").at(0).args.at(0), 4569);
    QVERIFY(dial);
    QCOMPARE(dial->user, std::string("10:00%3A"));
    QCOMPARE(dial->password, std::string("p:w@d%"));
    QCOMPARE(dial->server.host, std::string("iax.test"));
    QCOMPARE(dial->server.port, 4570);
    QCOMPARE(dial->number, std::string("004412"));
}

void TestTelephony::typedNumberIsDialled()
{
    loggedInWindow();
    QTest::keyClicks(child<QLineEdit>("leNumber"), QStringLiteral("4412"));
    QTest::keyClick(child<QLineEdit>("leNumber"), Qt::Key_Return);
    QCOMPARE(EngineDouble::callsOf("iaxc_call").at(0).args, (Args{"1000:pw@iax.test:4570/004412"}));
    QCOMPARE(child<TCallDialog>("pCall")->findChild<QLabel *>(QStringLiteral("lblNumber"))->text(), QStringLiteral("+4412"));
}

void TestTelephony::blankNumberDoesNothing()
{
    loggedInWindow();
    for (const QString &blank : {QString(), QStringLiteral("   ")}) {
        child<QLineEdit>("leNumber")->setText(blank);
        EngineDouble::clearCalls();
        child<QPushButton>("pbCall")->click();
        QVERIFY(EngineDouble::calls().empty());
        QCOMPARE(child<QStackedWidget>("swPages")->currentWidget()->objectName(), QStringLiteral("pContacts"));
    }
}

void TestTelephony::numbersFromTheServiceThatAreNoPhoneNumbersAreRefused()
{
    loggedInWindow();
    auto *statusBar = window->findChild<QStatusBar *>();
    // As a phone line or a history entry sends them: "@", "/" and ":" would
    // move the call to another server, which then gets an answer computed
    // from the IAX2 password.
    for (const QString &number : {QStringLiteral("1@evil.example/2"), QStringLiteral("1@evil.example"),
                                  QStringLiteral("44/12"), QStringLiteral("evil.example:4569"),
                                  QStringLiteral("12+34"), QStringLiteral("+"), QStringLiteral("4412\n@x")}) {
        EngineDouble::clearCalls();
        statusBar->clearMessage();
        auto *event = new TNumberEvent(EVENT_CALL_NUMBER);
        event->wholePhone = number;
        QCoreApplication::postEvent(window.get(), event);
        QTRY_VERIFY2(!statusBar->currentMessage().isEmpty(), qPrintable(number));
        QCOMPARE(statusBar->currentMessage(), refusedNumberText());
        QVERIFY2(EngineDouble::calls().empty(), qPrintable(number));
        QCOMPARE(child<QStackedWidget>("swPages")->currentWidget()->objectName(), QStringLiteral("pContacts"));
    }
    // A good number afterwards is dialled and clears the complaint.
    auto *good = new TNumberEvent(EVENT_CALL_NUMBER);
    good->wholePhone = QStringLiteral("4412");
    QCoreApplication::postEvent(window.get(), good);
    QTRY_COMPARE(EngineDouble::callsOf("iaxc_call").size(), std::size_t(1));
    QCOMPARE(EngineDouble::callsOf("iaxc_call").at(0).args, (Args{"1000:pw@iax.test:4570/004412"}));
    QVERIFY(statusBar->currentMessage().isEmpty());
}

void TestTelephony::linkNumbers_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("dialled"); // empty: refused
    QTest::newRow("tel, spaces") << QStringLiteral("tel:+44 20 7946 0123") << QStringLiteral("00442079460123");
    QTest::newRow("tel, percent-encoded")
        << QStringLiteral("tel:+44%2020%207946-0123") << QStringLiteral("00442079460123");
    QTest::newRow("callto, slashes") << QStringLiteral("CallTo://+1-201-555-0123/") << QStringLiteral("0012015550123");
    QTest::newRow("parameters left out") << QStringLiteral("tel:+1-201-555-0123;ext=1234") << QStringLiteral("0012015550123");
    QTest::newRow("echo test") << QStringLiteral("tel:999") << QStringLiteral("999");
    QTest::newRow("prefixed echo number") << QStringLiteral("tel:00999") << QStringLiteral("00999");
    QTest::newRow("bare number") << QStringLiteral("4915112345678") << QStringLiteral("004915112345678");
    QTest::newRow("host in a link") << QStringLiteral("callto:1@evil.example/2") << QString();
    QTest::newRow("encoded host") << QStringLiteral("tel:1%40evil.example") << QString();
    QTest::newRow("other scheme") << QStringLiteral("sip:4412@example.com") << QString();
    QTest::newRow("an option") << QStringLiteral("--help") << QString();
}

void TestTelephony::linkNumbers()
{
    QFETCH(QString, link);
    QFETCH(QString, dialled);
    loggedInWindow();
    EngineDouble::deliver(EngineDouble::registrationEvent(5, IAXC_REGISTRATION_REPLY_ACK));
    QTRY_COMPARE(registrationText(), QStringLiteral("Registered"));
    EngineDouble::clearCalls();
    dialFromOutside(link);
    if (dialled.isEmpty()) {
        QCOMPARE(window->findChild<QStatusBar *>()->currentMessage(), refusedNumberText());
        QVERIFY(EngineDouble::calls().empty());
        return;
    }
    QCOMPARE(EngineDouble::callsOf("iaxc_call").at(0).args, (Args{"1000:pw@iax.test:4570/" + dialled.toStdString()}));
    // The call page shows the number as if it had been typed.
    const QString shown = child<TCallDialog>("pCall")->findChild<QLabel *>(QStringLiteral("lblNumber"))->text();
    QVERIFY(shown.startsWith(QLatin1Char('+')));
    QCOMPARE(dialledNumber(shown.mid(1)).number, dialled);
}

void TestTelephony::linkWaitsForRegistration()
{
    // Handed over before there is a window, as at a start with a link.
    dialFromOutside(QStringLiteral("tel:+44 20 7946 0123"));
    loggedInWindow();
    QTest::qWait(50);
    QVERIFY(EngineDouble::callsOf("iaxc_call").empty());
    EngineDouble::deliver(EngineDouble::registrationEvent(5, IAXC_REGISTRATION_REPLY_REJ));
    QTest::qWait(50);
    QVERIFY(EngineDouble::callsOf("iaxc_call").empty());
    EngineDouble::deliver(EngineDouble::registrationEvent(5, IAXC_REGISTRATION_REPLY_ACK));
    QTRY_COMPARE(EngineDouble::callsOf("iaxc_call").size(), std::size_t(1));
    QCOMPARE(EngineDouble::callsOf("iaxc_call").at(0).args, (Args{"1000:pw@iax.test:4570/00442079460123"}));
    // Dialled once: the next registration answer places no second call, and
    // a link during the call waits in the number field.
    dialFromOutside(QStringLiteral("tel:4412"));
    EngineDouble::deliver(EngineDouble::registrationEvent(5, IAXC_REGISTRATION_REPLY_ACK));
    QTest::qWait(50);
    QCOMPARE(EngineDouble::callsOf("iaxc_call").size(), std::size_t(1));
    QCOMPARE(child<QLineEdit>("leNumber")->text(), QStringLiteral("4412"));
}

// The complaint about a refused number hides the registration state while
// it is shown, so it goes after a while by itself.
void TestTelephony::refusalGivesWayToTheRegistrationState()
{
    loggedInWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *statusBar = window->findChild<QStatusBar *>();
    QTRY_VERIFY(child<QLabel>("lblRegistration") && child<QLabel>("lblRegistration")->isVisible());
    auto *event = new TNumberEvent(EVENT_CALL_NUMBER);
    event->wholePhone = QStringLiteral("1@evil.example");
    QCoreApplication::postEvent(window.get(), event);
    QTRY_COMPARE(statusBar->currentMessage(), refusedNumberText());
    QVERIFY(!child<QLabel>("lblRegistration")->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(statusBar->currentMessage().isEmpty(), 10000);
    QVERIFY(child<QLabel>("lblRegistration")->isVisible());
}

void TestTelephony::hangUpButtonEndsCall()
{
    loggedInWindow();
    auto *page = child<TCallDialog>("pCall");
    qint64 now = 1700000000;
    page->setClock([&now] { return now; });
    child<QLineEdit>("leNumber")->setText(QStringLiteral("999"));
    child<QPushButton>("pbCall")->click();
    page->start();
    now += 2;
    QTRY_COMPARE(page->findChild<QLabel *>(QStringLiteral("leCallDuration"))->text(), QStringLiteral("00:00:02"));

    QSignalSpy pageHangUp(page, &TCallDialog::hangUp);
    const int historyBefore = responder->requestsFor(historyPath).size();
    EngineDouble::clearCalls();
    QTest::mouseClick(page->findChild<QPushButton *>(QStringLiteral("pbHangUp")), Qt::LeftButton);
    QCOMPARE(pageHangUp.size(), 1);
    QCOMPARE(EngineDouble::functions(), (std::vector<std::string>{"iaxc_dump_call"}));
    QCOMPARE(child<QStackedWidget>("swPages")->currentWidget()->objectName(), QStringLiteral("pContacts"));
    QCOMPARE(page->findChild<QLabel *>(QStringLiteral("leCallDuration"))->text(), QStringLiteral("00:00:00"));
    QTRY_COMPARE(responder->requestsFor(historyPath).size(), historyBefore + 1);
}

void TestTelephony::callStates_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("code"); // 0: nothing posted
    QTest::addColumn<QStringList>("more");
    const QStringList none;
    QTest::newRow("0x00 line free") << 0x00 << 5003 << QStringList{QStringLiteral("No active calls")};
    QTest::newRow("0x02 active") << 0x02 << 0 << none;
    QTest::newRow("0x06 placed") << 0x06 << 0 << none;
    QTest::newRow("0x0E ringing") << 0x0E << 5001 << QStringList{QStringLiteral("Ringing")};
    QTest::newRow("0x16 answered") << 0x16 << 5002 << QStringList{QStringLiteral("Active call going on")};
    QTest::newRow("0x1E ringing first") << 0x1E << 5001 << QStringList{QStringLiteral("Ringing")};
    QTest::newRow("0x12 answered") << 0x12 << 5002 << QStringList{QStringLiteral("Active call going on")};
    QTest::newRow("0x0A incoming") << 0x0A << 0 << QStringList{QStringLiteral("Receiving Incoming Call Request...")};
    QTest::newRow("0x22 selected") << 0x22 << 0 << none;
    QTest::newRow("0x08 ringing, line free") << 0x08 << 5003
                                             << QStringList{QStringLiteral("No active calls"), QStringLiteral("Receiving Incoming Call Request...")};
}

void TestTelephony::callStates()
{
    QFETCH(int, state);
    QFETCH(int, code);
    QFETCH(QStringList, more);
    loggedInWindow();
    auto *page = child<TCallDialog>("pCall");
    auto *duration = page->findChild<QLabel *>(QStringLiteral("leCallDuration"));
    qint64 now = 1700000000;
    page->setClock([&now] { return now; });
    child<QLineEdit>("leNumber")->setText(QStringLiteral("999"));
    child<QPushButton>("pbCall")->click();

    QSignalSpy status(window.get(), &TMainWindow::phoneStatus);
    const int historyBefore = responder->requestsFor(historyPath).size();
    EngineDouble::clearCalls();
    DebugLog log;
    QCOMPARE(EngineDouble::deliver(EngineDouble::stateEvent(state)), 0);
    QCOMPARE(log.lines(), bitLines(state) + more);

    // A marker event after it: once the marker is seen, the state's event
    // (if any) has been handled.
    postToMainWindow(new TEvent(EVENT_CALL_RINGING));
    QTRY_VERIFY(!status.isEmpty() && status.last().at(0).toInt() == EVENT_CALL_RINGING);
    QCOMPARE(status.size(), code ? 2 : 1);
    if (code)
        QCOMPARE(status.first().at(0).toInt(), code);

    auto *pages = child<QStackedWidget>("swPages");
    now += 3;
    if (code == EVENT_CALL_ENDED) {
        QCOMPARE(EngineDouble::functions(), (std::vector<std::string>{"iaxc_dump_call"}));
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("pContacts"));
        QTRY_COMPARE(responder->requestsFor(historyPath).size(), historyBefore + 1);
        QTest::qWait(1000);
        QCOMPARE(duration->text(), QStringLiteral("00:00:00"));
    } else {
        QVERIFY(EngineDouble::calls().empty());
        QCOMPARE(pages->currentWidget(), page);
        if (code == EVENT_CALL_ANSWERED) {
            QTRY_COMPARE(duration->text(), QStringLiteral("00:00:03"));
        } else {
            QTest::qWait(1000);
            QCOMPARE(duration->text(), QStringLiteral("00:00:00"));
        }
    }
}

void TestTelephony::otherEventsAreIgnored()
{
    loggedInWindow();
    QSignalSpy status(window.get(), &TMainWindow::phoneStatus);
    DebugLog log;
    for (int type : {IAXC_EVENT_TEXT, IAXC_EVENT_LEVELS, IAXC_EVENT_URL, IAXC_EVENT_DTMF, IAXC_EVENT_AUDIO, 77}) {
        iaxc_event event = EngineDouble::stateEvent(0x16);
        event.type = type; // the union holds a call state; none of it may be read
        QCOMPARE(EngineDouble::deliver(event), 0);
    }
    QTest::qWait(50);
    QVERIFY(log.lines().isEmpty());
    QVERIFY(status.isEmpty());
    QCOMPARE(registrationText(), QStringLiteral("Registering..."));
}

void TestTelephony::storedDevicesAppliedAfterRegistration()
{
    EngineDouble::setDevices({{"Mic", IAXC_AD_INPUT, 3}, {"Speaker", IAXC_AD_OUTPUT, 4}}, 3, 4, 4);
    {
        auto settings = Settings::open();
        settings->setValue(QLatin1String(Settings::InputDevice), 7);
        settings->setValue(QLatin1String(Settings::OutputDevice), 8);
        Settings::sync(*settings);
    }
    loggedInWindow();
    const auto names = EngineDouble::functions();
    QVERIFY(indexOf(names, "iaxc_register") < indexOf(names, "iaxc_audio_devices_set"));
    QCOMPARE(EngineDouble::callsOf("iaxc_audio_devices_set").back().args, (Args{"7", "8", "8"}));
}

void TestTelephony::settingsButtonRunsDialogOnce()
{
    EngineDouble::setDevices({{"Mic", IAXC_AD_INPUT, 3}, {"Speaker", IAXC_AD_OUTPUT, 4}}, 3, 4, 4);
    loggedInWindow();
    bool sawDialog = false;
    onNextModal([&sawDialog](QWidget *modal) {
        sawDialog = qobject_cast<TSettings *>(modal) != nullptr;
        modal->findChild<QPushButton *>(QStringLiteral("pbSave"))->click();
    });
    EngineDouble::clearCalls();
    child<QPushButton>("pbSettings")->click();
    QVERIFY(sawDialog);
    QCOMPARE(EngineDouble::callsOf("iaxc_audio_devices_set").back().args, (Args{"3", "4", "4"}));
    QCOMPARE(Settings::open()->value(QLatin1String(Settings::OutputDevice)).toInt(), 4);
    // Made for one run: nothing of it is left.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<TSettings *>(widget));
}

void TestTelephony::logoutUnregistersBeforeNextRegistration()
{
    loggedInWindow();
    EngineDouble::clearCalls();
    // Logout: forget the window, destroy it, build the next one.
    setMainWindow(nullptr);
    window.reset();
    EngineDouble::setRegisterResult(6);
    loggedInWindow();
    const auto calls = EngineDouble::calls();
    const auto names = EngineDouble::functions();
    const auto unregister = indexOf(names, "iaxc_unregister");
    QVERIFY(unregister >= 0);
    QCOMPARE(calls.at(std::size_t(unregister)).args, (Args{"5"}));
    QVERIFY(unregister < indexOf(names, "iaxc_register"));
    QCOMPARE(indexOf(names, "iaxc_unregister", std::size_t(unregister) + 1), -1);
    // The second window initialises the engine again.
    QVERIFY(indexOf(names, "iaxc_initialize") >= 0);

    // A late answer to the old registration does not speak for the new one.
    EngineDouble::deliver(EngineDouble::registrationEvent(5, IAXC_REGISTRATION_REPLY_REJ));
    EngineDouble::deliver(EngineDouble::registrationEvent(6, IAXC_REGISTRATION_REPLY_ACK));
    QTRY_COMPARE(registrationText(), QStringLiteral("Registered"));
}

void TestTelephony::logoutDuringACallHangsUpBeforeUnregistering()
{
    loggedInWindow();
    window->call(QStringLiteral("4420"));
    EngineDouble::clearCalls();
    setMainWindow(nullptr);
    window.reset();
    // Otherwise the call would run on, and be charged, with no window to end it.
    QCOMPARE(EngineDouble::functions(), (std::vector<std::string>{"iaxc_dump_call", "iaxc_unregister"}));
}

void TestTelephony::initialisationFailureStopsProgram()
{
    QProcess program;
    // The process ends itself in the middle of building its window, on
    // purpose; what it still holds then is not a leak worth reporting.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(INITFAILURE_BINARY), {});
    QVERIFY(program.waitForFinished(60000));
    const QString output = QString::fromUtf8(program.readAllStandardOutput());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit); // no abort, no core dump
    QCOMPARE(program.exitCode(), 1);
    QCOMPARE(output, QStringLiteral("Error|iaxclient not found|1\n"));
}

QTEST_MAIN(TestTelephony)
#include "tst_telephony.moc"
