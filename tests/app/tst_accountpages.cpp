// The account pages: each opens in its browser window already logged in,
// with the login key posted as the form body. The windows belong to the
// program ondavox-pages, which the phone starts for the first page; this
// test is the phone, and sees the windows through what that program reports.
#include "app/pageswindows.h"
#include "app/tmainwindow.h"
#include "base/tevent.h"
#include "views/tlogin.h"
#include "httpresponder.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

namespace {

PagesWindows *pages()
{
    return PagesWindows::instance();
}

PagesWindows::Window windowOf(const QString &kind)
{
    return pages()->windows().value(kind);
}

QStringList visibleWindows()
{
    QStringList kinds;
    const auto windows = pages()->windows();
    for (auto it = windows.begin(); it != windows.end(); ++it)
        if (it->visible)
            kinds.append(it.key());
    return kinds;
}

// Runs script in the page of kind's window and waits for its value.
QJsonValue evaluate(const QString &kind, const QString &script)
{
    QJsonValue result;
    bool done = false;
    pages()->run(kind, script, [&](const QJsonValue &value) {
        result = value;
        done = true;
    });
    QTest::qWaitFor([&] { return done; }, 30000);
    return result;
}

bool browserEngineLoadedHere()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6WebEngine");
}

} // namespace

class TestAccountPages : public QObject
{
    Q_OBJECT

public slots:
    // Stands in for the desktop: what the program hands to the user's
    // browser or to another program.
    void openUrl(const QUrl &url) { opened.append(url); }

private slots:
    void init();
    void cleanup();

    void pagePostsTheLoginKey_data();
    void pagePostsTheLoginKey();
    void emptyKeyPostsAnEmptyLogin();
    void keyIsSentWhole();
    void eachFamilyReusesItsWindow();
    void noBrowserEngineInThePhone();
    void pagesStayOnTheServiceOrigin();
    void aDeadPagesProgramIsReplaced();

private:
    TMainWindow *loggedInWindow(const QByteArray &loginReply);
    HttpResponder::Request lastRequestFor(const QByteArray &path);

    HttpResponder *responder = nullptr;
    SettingsSandbox *sandbox = nullptr;
    QList<QUrl> opened;
};

void TestAccountPages::init()
{
    responder = new HttpResponder;
    for (const char *path : {"/Rates/ViewRates.html", "/Phonebook/Phonebook.html", "/Account/BillingInfo.html"})
        responder->setReply(path, QByteArray("<html><head><title>") + path + "</title></head><body>page</body></html>");
    qputenv("ONDAVOX_WEB_BASE", responder->baseUrl().toUtf8());
    sandbox = new SettingsSandbox;
    sandbox->storeLogin(QStringLiteral("demo@ondavox.com"), passwordDigest(QStringLiteral("ondavox-demo")));
}

void TestAccountPages::cleanup()
{
    // The page windows outlive the main window; here nothing quits the
    // application, so the pages program ends by hand before the next test.
    pages()->stop();
    setMainWindow(nullptr);
    delete sandbox;
    delete responder;
    qunsetenv("ONDAVOX_WEB_BASE");
}

TMainWindow *TestAccountPages::loggedInWindow(const QByteArray &loginReply)
{
    responder->setReply("/Webservices/login.php", loginReply);
    auto *window = new TMainWindow;
    setMainWindow(window);
    return window;
}

HttpResponder::Request TestAccountPages::lastRequestFor(const QByteArray &path)
{
    const auto requests = responder->requestsFor(path);
    return requests.isEmpty() ? HttpResponder::Request() : requests.last();
}

void TestAccountPages::pagePostsTheLoginKey_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("window");
    QTest::newRow("rates") << "pbRates" << QByteArray("/Rates/ViewRates.html") << "pages";
    QTest::newRow("account phonebook") << "pbGoToZimbrel" << QByteArray("/Phonebook/Phonebook.html") << "pages";
    QTest::newRow("add $10") << "actionAdd_10" << QByteArray("/Account/BillingInfo.html?amount=10") << "billing";
    QTest::newRow("add $20") << "actionAdd_20" << QByteArray("/Account/BillingInfo.html?amount=20") << "billing";
    QTest::newRow("add $50") << "actionAdd_50" << QByteArray("/Account/BillingInfo.html?amount=50") << "billing";
}

void TestAccountPages::pagePostsTheLoginKey()
{
    QFETCH(QString, trigger);
    QFETCH(QByteArray, target);
    QFETCH(QString, window);
    std::unique_ptr<TMainWindow> main(loggedInWindow(R"({"Username":"1000","Password":"pw","Key":"K42x"})"));

    if (auto *button = main->findChild<QPushButton *>(trigger))
        button->click();
    else
        main->findChild<QAction *>(trigger)->trigger();

    const QByteArray path = target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));
    QVERIFY(responder->waitForRequest(path, 30000));
    const HttpResponder::Request request = lastRequestFor(path);
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, target);
    QCOMPARE(request.body, QByteArray("login=K42x&"));

    // The page shows in a maximised window of its own, titled as the page.
    QTRY_VERIFY_WITH_TIMEOUT(windowOf(window).title == QString::fromLatin1(path), 30000);
    QCOMPARE(visibleWindows(), QStringList{window});
    QVERIFY(windowOf(window).maximized);
}

void TestAccountPages::emptyKeyPostsAnEmptyLogin()
{
    // A login reply without a key leaves the key empty.
    std::unique_ptr<TMainWindow> window(loggedInWindow(R"({"Username":"1000","Password":"pw"})"));
    window->findChild<QPushButton *>(QStringLiteral("pbRates"))->click();
    QVERIFY(responder->waitForRequest("/Rates/ViewRates.html", 30000));
    QCOMPARE(lastRequestFor("/Rates/ViewRates.html").body, QByteArray("login=&"));
}

void TestAccountPages::keyIsSentWhole()
{
    // A key with form characters in it must not be cut into other fields.
    std::unique_ptr<TMainWindow> window(loggedInWindow(R"({"Username":"1000","Password":"pw","Key":"a&b=c+d"})"));
    window->findChild<QAction *>(QStringLiteral("actionAdd_20"))->trigger();
    QVERIFY(responder->waitForRequest("/Account/BillingInfo.html", 30000));
    QCOMPARE(lastRequestFor("/Account/BillingInfo.html").body, QByteArray("login=a%26b%3Dc%2Bd&"));
}

void TestAccountPages::eachFamilyReusesItsWindow()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow(R"({"Username":"1000","Password":"pw","Key":"k1"})"));
    auto *rates = window->findChild<QPushButton *>(QStringLiteral("pbRates"));
    auto *phonebook = window->findChild<QPushButton *>(QStringLiteral("pbGoToZimbrel"));

    rates->click();
    QTRY_COMPARE_WITH_TIMEOUT(windowOf(QStringLiteral("pages")).pageTitle, QStringLiteral("/Rates/ViewRates.html"),
                              30000);
    const qint64 program = pages()->processId();
    QVERIFY(program > 0);

    // The same button twice: the page loads again into the same window.
    rates->click();
    QTRY_COMPARE_WITH_TIMEOUT(responder->requestsFor("/Rates/ViewRates.html").size(), 2, 30000);
    QCOMPARE(pages()->windows().keys(), QStringList{QStringLiteral("pages")});

    // Closing the window only hides it; the next page shows it again.
    pages()->close(QStringLiteral("pages"));
    QTRY_VERIFY_WITH_TIMEOUT(!windowOf(QStringLiteral("pages")).visible, 30000);
    phonebook->click();
    QVERIFY(responder->waitForRequest("/Phonebook/Phonebook.html", 30000));
    QTRY_COMPARE_WITH_TIMEOUT(windowOf(QStringLiteral("pages")).pageTitle,
                              QStringLiteral("/Phonebook/Phonebook.html"), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(windowOf(QStringLiteral("pages")).visible, 30000);

    // Billing goes to a second window and never replaces the account page.
    window->findChild<QAction *>(QStringLiteral("actionAdd_10"))->trigger();
    QVERIFY(responder->waitForRequest("/Account/BillingInfo.html", 30000));
    window->findChild<QAction *>(QStringLiteral("actionAdd_50"))->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(windowOf(QStringLiteral("billing")).url.query(), QStringLiteral("amount=50"), 30000);
    QCOMPARE(responder->requestsFor("/Account/BillingInfo.html").size(), 2);
    QCOMPARE(pages()->windows().size(), 2);
    QCOMPARE(windowOf(QStringLiteral("pages")).pageTitle, QStringLiteral("/Phonebook/Phonebook.html"));
    // One program shows every window.
    QCOMPARE(pages()->processId(), program);

    // The windows do not belong to the main window: they stay when it goes.
    window.reset();
    QTest::qWait(300);
    QCOMPARE(visibleWindows().size(), 2);
    QCOMPARE(pages()->processId(), program);
}

void TestAccountPages::noBrowserEngineInThePhone()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow(R"({"Username":"1000","Password":"pw","Key":"k1"})"));
    window->show();
    QTest::qWait(700);
    QCOMPARE(pages()->processId(), 0);
    QVERIFY(responder->requestsFor("/Rates/ViewRates.html").isEmpty());
    QVERIFY(!browserEngineLoadedHere());

    // Pages open in a program of their own; the phone still has no engine.
    window->findChild<QPushButton *>(QStringLiteral("pbRates"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(windowOf(QStringLiteral("pages")).pageTitle, QStringLiteral("/Rates/ViewRates.html"),
                              30000);
    QVERIFY(pages()->processId() != QCoreApplication::applicationPid());
    QVERIFY(!browserEngineLoadedHere());
    // The login key reached the service in the page's body, never the
    // command line that anyone on the machine can read.
    QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pages()->processId()));
    QVERIFY(commandLine.open(QIODevice::ReadOnly));
    QVERIFY(!commandLine.readAll().contains("k1"));
}

void TestAccountPages::pagesStayOnTheServiceOrigin()
{
    // Another web site, for real: it must never be loaded inside the window.
    HttpResponder elsewhere;
    elsewhere.setReply("/card.html", "<html><head><title>look-alike</title></head><body>card form</body></html>");
    const QByteArray other = elsewhere.baseUrl().toUtf8() + "/card.html";
    // The same server under another name is another origin too.
    const QByteArray otherName = QByteArray(responder->baseUrl().toUtf8()).replace("127.0.0.1", "localhost") + "/card.html";
    responder->setReply("/Rates/ViewRates.html",
                        "<html><head><title>rates</title></head><body>"
                        "<a id='other' href='" + other + "'>other</a>"
                        "<a id='otherName' href='" + otherName + "'>same server, other name</a>"
                        "<a id='newWindow' target='_blank' href='" + other + "?new'>new window</a>"
                        "<a id='scheme' href='ondavoxtest:do-something'>program</a>"
                        "<a id='file' href='file:///etc/passwd'>file</a>"
                        "<a id='download' href='/Rates/rates.csv' download='rates.csv'>download</a>"
                        "<a id='inside' href='/Phonebook/Phonebook.html'>inside</a>"
                        "<form method='post' action='" + other + "?form'><button id='form'>send</button></form>"

                        "</body></html>");
    responder->setReply("/Rates/rates.csv", "prefix,rate\n001,2\n");
    for (const char *scheme : {"http", "https", "file", "ondavoxtest"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "openUrl");
    // The pages program's home, where a download would land.
    QTemporaryDir home;
    const QByteArray realHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));

    std::unique_ptr<TMainWindow> window(loggedInWindow(R"({"Username":"1000","Password":"pw","Key":"k1"})"));
    window->findChild<QPushButton *>(QStringLiteral("pbRates"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(windowOf(QStringLiteral("pages")).title, QStringLiteral("rates"), 30000);
    qputenv("HOME", realHome);
    const QUrl ratesUrl = windowOf(QStringLiteral("pages")).url;

    struct Try {
        const char *id;
        QList<QUrl> toBrowser;
        QString notice; // what the window then says above the page
    };
    const Try tries[] = {
        {"other", {QUrl(QString::fromUtf8(other))}, QString::fromUtf8(other) + " was opened in your web browser."},
        {"otherName", {QUrl(QString::fromUtf8(otherName))},
         QString::fromUtf8(otherName) + " was opened in your web browser."},
        {"newWindow", {QUrl(QString::fromUtf8(other + "?new"))}, {}},
        // A form sent to a plain http address elsewhere: refused, and the
        // window says why.
        {"form", {},
         "The page wanted to open " + QString::fromUtf8(other) +
             "?form. It was not opened: this window opens only secure (https) addresses."},
        // Schemes the browser engine itself does not follow.
        {"scheme", {}, {}},
        {"file", {}, {}},
        {"download", {}, {}},
    };
    for (const Try &attempt : tries) {
        opened.clear();
        evaluate(QStringLiteral("pages"),
                 QStringLiteral("document.getElementById('%1').click(); true").arg(QLatin1String(attempt.id)));
        if (!attempt.toBrowser.isEmpty())
            QTRY_VERIFY2_WITH_TIMEOUT(!opened.isEmpty(), attempt.id, 10000);
        else if (!attempt.notice.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(windowOf(QStringLiteral("pages")).notice, attempt.notice, 10000);
        else
            QTest::qWait(1500);
        QVERIFY2(opened == attempt.toBrowser, attempt.id);
        if (!attempt.notice.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(windowOf(QStringLiteral("pages")).notice, attempt.notice, 10000);
        QCOMPARE(pages()->windows().keys(), QStringList{QStringLiteral("pages")});
        QCOMPARE(windowOf(QStringLiteral("pages")).url, ratesUrl);
        QCOMPARE(windowOf(QStringLiteral("pages")).title, QStringLiteral("rates"));
    }
    for (const char *scheme : {"http", "https", "file", "ondavoxtest"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    QVERIFY(elsewhere.requests().isEmpty());
    QDirIterator saved(home.path(), QDir::Files, QDirIterator::Subdirectories);
    while (saved.hasNext()) {
        const QString file = saved.next();
        QVERIFY2(!file.contains(QLatin1String("rates")), qPrintable(file));
    }

    // Links within the service still work in the window, and the line above
    // the page goes with the next page.
    evaluate(QStringLiteral("pages"), QStringLiteral("document.getElementById('inside').click(); true"));
    QVERIFY(responder->waitForRequest("/Phonebook/Phonebook.html", 30000));
    QTRY_COMPARE_WITH_TIMEOUT(windowOf(QStringLiteral("pages")).title, QStringLiteral("/Phonebook/Phonebook.html"),
                              30000);
    QCOMPARE(windowOf(QStringLiteral("pages")).notice, QString());
}

void TestAccountPages::aDeadPagesProgramIsReplaced()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow(R"({"Username":"1000","Password":"pw","Key":"k1"})"));
    window->findChild<QPushButton *>(QStringLiteral("pbRates"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(windowOf(QStringLiteral("pages")).pageTitle, QStringLiteral("/Rates/ViewRates.html"),
                              30000);
    const qint64 first = pages()->processId();

    QSignalSpy ended(pages(), &PagesWindows::ended);
    QCOMPARE(::kill(pid_t(first), SIGKILL), 0);
    QVERIFY(ended.wait(30000));
    QVERIFY(pages()->windows().isEmpty());
    QCOMPARE(pages()->processId(), 0);

    // The phone goes on; the next page starts a fresh program.
    window->findChild<QPushButton *>(QStringLiteral("pbGoToZimbrel"))->click();
    QVERIFY(responder->waitForRequest("/Phonebook/Phonebook.html", 30000));
    QCOMPARE(lastRequestFor("/Phonebook/Phonebook.html").body, QByteArray("login=k1&"));
    QTRY_COMPARE_WITH_TIMEOUT(windowOf(QStringLiteral("pages")).pageTitle,
                              QStringLiteral("/Phonebook/Phonebook.html"), 30000);
    QVERIFY(pages()->processId() > 0);
    QVERIFY(pages()->processId() != first);
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("ONDAVOX_PAGES_PROGRAM"))
        qputenv("ONDAVOX_PAGES_PROGRAM", ONDAVOX_PAGES_PROGRAM_PATH);
    QApplication app(argc, argv);
    TestAccountPages test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_accountpages.moc"
