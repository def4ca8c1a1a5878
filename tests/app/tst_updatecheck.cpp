// The update check after login: the request, the replies that do and do not
// offer an update, the question, and waits that must end.
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "app/updatecheck.h"
#include "account/servicereply.h"
#include "views/tlogin.h"
#include "httpresponder.h"
#include "testsupport.h"

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestUpdateCheck : public QObject
{
    Q_OBJECT

public slots:
    // Stands in for the desktop's browser.
    void openUrl(const QUrl &url) { opened.append(url); }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void checkIsSentAfterLogin();
    void replyDecidesTheQuestion_data();
    void replyDecidesTheQuestion();
    void yesOpensTheDownload();
    void noOpensNothing();
    void onlyWebAddressesAreOpened_data();
    void onlyWebAddressesAreOpened();
    void silentReplyEndsAfterTheTimeout();
    void waitEndsWhenItsWindowGoes();

private:
    // A logged-in window whose own scheduled check has come and gone.
    TMainWindow *windowAfterFirstCheck();
    // Runs a check and answers its question, if one comes; returns whether
    // it came.
    bool runCheck(TMainWindow *window, QMessageBox::StandardButton answer, QMessageBox **seen = nullptr);

    LoginService *service = nullptr;
    HttpResponder *responder = nullptr;
    SettingsSandbox *sandbox = nullptr;
    QList<QUrl> opened;
    QString questionTitle;
    QString questionText;
    QMessageBox::StandardButtons questionButtons;
    QMessageBox::StandardButton questionDefault = QMessageBox::NoButton;
};

void TestUpdateCheck::initTestCase()
{
    for (const char *scheme : {"http", "https", "file", "ftp", "ondavox"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "openUrl");
}

void TestUpdateCheck::cleanupTestCase()
{
    for (const char *scheme : {"http", "https", "file", "ftp", "ondavox"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

void TestUpdateCheck::init()
{
    opened.clear();
    service = new LoginService;
    responder = service->responder;
    sandbox = &service->sandbox;
}

void TestUpdateCheck::cleanup()
{
    setMainWindow(nullptr);
    delete service;
}

TMainWindow *TestUpdateCheck::windowAfterFirstCheck()
{
    auto *window = new TMainWindow;
    setMainWindow(window);
    if (!responder->waitForRequest("/update.php"))
        return window;
    QTest::qWait(200); // its "false" is read and the check is over
    return window;
}

bool TestUpdateCheck::runCheck(TMainWindow *window, QMessageBox::StandardButton answer, QMessageBox **seen)
{
    bool asked = false;
    const QPointer<QTimer> poll = onNextModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            return;
        asked = true;
        questionTitle = box->windowTitle();
        questionText = box->text();
        questionButtons = box->standardButtons();
        questionDefault = box->standardButton(box->defaultButton());
        QVERIFY(box->parentWidget() == window);
        QCOMPARE(box->icon(), QMessageBox::Question);
        box->button(answer)->click();
    }, 3000);
    window->checkForUpdate(); // returns once the whole check is over
    // A question that never came is no longer awaited: the wait must not
    // outlive this frame, whose variables it writes.
    delete poll.data();
    return asked;
}

void TestUpdateCheck::checkIsSentAfterLogin()
{
    QElapsedTimer sinceLogin;
    auto *window = new TMainWindow; // logs in with the stored login
    sinceLogin.start();
    std::unique_ptr<TMainWindow> owner(window);
    QVERIFY(responder->requestsFor("/update.php").isEmpty());
    QVERIFY(responder->waitForRequest("/update.php"));
    QVERIFY(sinceLogin.elapsed() >= 450);
    const auto requests = responder->requestsFor("/update.php");
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().method, QByteArray("POST"));
    QCOMPARE(requests.first().target, QByteArray("/update.php"));
    QVERIFY(requests.first().body.isEmpty());
    // Once per login only.
    QTest::qWait(800);
    QCOMPARE(responder->requestsFor("/update.php").size(), 1);
}

void TestUpdateCheck::replyDecidesTheQuestion_data()
{
    QTest::addColumn<HttpResponder::Reply>("reply");
    QTest::addColumn<bool>("asks");
    auto ok = [](const QByteArray &body) { return HttpResponder::Reply{200, body, 0, false}; };
    QTest::newRow("false") << ok("false") << false;
    QTest::newRow("False is not the no-update text, and no object") << ok("False") << false;
    QTest::newRow("false with spaces") << ok(" false ") << false;
    QTest::newRow("same version") << ok(R"({"Version":101,"DownloadUrlWin":"https://x/"})") << false;
    QTest::newRow("older version") << ok(R"({"Version":100,"DownloadUrlWin":"https://x/"})") << false;
    QTest::newRow("newer version") << ok(R"({"Version":102,"DownloadUrlWin":"https://x/"})") << true;
    QTest::newRow("version as text") << ok(R"({"Version":"102","DownloadUrlWin":"https://x/"})") << true;
    QTest::newRow("version as a word") << ok(R"({"Version":"new"})") << false;
    QTest::newRow("no version") << ok(R"({"DownloadUrlWin":"https://x/"})") << false;
    QTest::newRow("malformed") << ok(R"({"Version":102,)") << false;
    QTest::newRow("script, not data") << ok(R"({"Version":(function(){return 102})()})") << false;
    QTest::newRow("an array") << ok("[102]") << false;
    QTest::newRow("empty") << ok("") << false;
    QTest::newRow("newer, then NUL and garbage")
        << ok(QByteArray(R"({"Version":102,"DownloadUrlWin":"https://x/"})") + '\0' + "junk") << true;
    QTest::newRow("newer, nothing to download") << ok(R"({"Version":102})") << false;
    QTest::newRow("error status") << HttpResponder::Reply{500, R"({"Version":102})", 0, false} << false;
    QTest::newRow("connection dropped") << HttpResponder::Reply{200, {}, 0, true} << false;
}

void TestUpdateCheck::replyDecidesTheQuestion()
{
    QFETCH(HttpResponder::Reply, reply);
    QFETCH(bool, asks);
    std::unique_ptr<TMainWindow> window(windowAfterFirstCheck());
    responder->setReply("/update.php", reply);
    QCOMPARE(runCheck(window.get(), QMessageBox::No), asks);
    // (A dropped keep-alive connection is tried once more by the network
    // layer, so the count may be higher than one more.)
    QVERIFY(responder->requestsFor("/update.php").size() >= 2);
    if (asks) {
        QCOMPARE(questionTitle, QStringLiteral("Update available"));
        QCOMPARE(questionText, QStringLiteral("There is a new version of Ondavox available for download. "
                                              "Do you want to download the new version?"));
        QCOMPARE(questionButtons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(questionDefault, QMessageBox::Yes);
    }
    QVERIFY(opened.isEmpty());
}

void TestUpdateCheck::yesOpensTheDownload()
{
    std::unique_ptr<TMainWindow> window(windowAfterFirstCheck());
    responder->setReply("/update.php", R"({"Version":102,"DownloadUrlWin":"https://downloads.example/Ondavox-1.0.2.exe",)"
                                       R"("DownloadUrlMac":"https://downloads.example/Ondavox-1.0.2.dmg"})");
    QVERIFY(runCheck(window.get(), QMessageBox::Yes));
    QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://downloads.example/Ondavox-1.0.2.exe"))});
}

void TestUpdateCheck::noOpensNothing()
{
    std::unique_ptr<TMainWindow> window(windowAfterFirstCheck());
    responder->setReply("/update.php", R"({"Version":102,"DownloadUrlWin":"https://downloads.example/new.exe"})");
    QVERIFY(runCheck(window.get(), QMessageBox::No));
    QVERIFY(opened.isEmpty());
    // Not asked again by itself.
    QTest::qWait(700);
    QCOMPARE(responder->requestsFor("/update.php").size(), 2);
}

void TestUpdateCheck::onlyWebAddressesAreOpened_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("opens");
    QTest::newRow("https") << "https://downloads.example/new.exe" << true;
    QTest::newRow("http elsewhere") << "http://downloads.example/new.exe" << false;
    QTest::newRow("http on the service's host") << "{base}/downloads/new.exe" << true;
    QTest::newRow("http on another port of the service's host") << "{other port}/downloads/new.exe" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("local file") << "file:///bin/sh" << false;
    QTest::newRow("ftp") << "ftp://downloads.example/new.exe" << false;
    QTest::newRow("another program's scheme") << "ondavox://install" << false;
    QTest::newRow("no host") << "https:///new.exe" << false;
    QTest::newRow("not an address") << "a b c" << false;
}

void TestUpdateCheck::onlyWebAddressesAreOpened()
{
    QFETCH(QString, address);
    QFETCH(bool, opens);
    std::unique_ptr<TMainWindow> window(windowAfterFirstCheck());
    address.replace(QStringLiteral("{base}"), responder->baseUrl());
    QUrl otherPort(responder->baseUrl());
    otherPort.setPort(otherPort.port() == 65535 ? 1024 : otherPort.port() + 1);
    address.replace(QStringLiteral("{other port}"), otherPort.toString());
    responder->setReply("/update.php", QByteArray(R"({"Version":102,"DownloadUrlWin":")") + address.toUtf8() + "\"}");
    // An update is offered only where Yes can open its address.
    QCOMPARE(runCheck(window.get(), QMessageBox::Yes), opens);
    QCOMPARE(opened.size(), opens ? 1 : 0);
}

void TestUpdateCheck::silentReplyEndsAfterTheTimeout()
{
    responder->setReply("/update.php", HttpResponder::Reply{200, R"({"Version":102})", 5000, false});
    QElapsedTimer clock;
    clock.start();
    const UpdateCheck::Offer offer = UpdateCheck::fetch(nullptr, 300);
    QVERIFY(clock.elapsed() < 4000); // ended by the time-out, not by the late reply
    QCOMPARE(offer.version, 0);
    QVERIFY(!offer.isNewer());
}

void TestUpdateCheck::waitEndsWhenItsWindowGoes()
{
    responder->setReply("/update.php", HttpResponder::Reply{200, R"({"Version":102})", 5000, false});
    auto *guard = new QObject;
    QTimer::singleShot(100, guard, [guard] { guard->deleteLater(); });
    QElapsedTimer clock;
    clock.start();
    const UpdateCheck::Offer offer = UpdateCheck::fetch(guard);
    QVERIFY(clock.elapsed() < 4000);
    QVERIFY(!offer.isNewer());
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
