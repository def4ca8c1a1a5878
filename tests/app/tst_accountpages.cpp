// The account pages: each opens in its browser window already logged in,
// with the login key posted as the form body.
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "views/tlogin.h"
#include "httpresponder.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

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
    void noBrowserBeforeThePagesAreOpened();
    void pagesStayOnTheServiceOrigin();

private:
    TMainWindow *loggedInWindow(const QByteArray &loginReply);
    QList<QWebEngineView *> browserWindows() const;
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
    // The browser windows outlive the main window; here nothing quits the
    // application, so they go by hand before the next test.
    qDeleteAll(browserWindows());
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

QList<QWebEngineView *> TestAccountPages::browserWindows() const
{
    QList<QWebEngineView *> views;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *view = qobject_cast<QWebEngineView *>(widget))
            views.append(view);
    return views;
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
    QTest::newRow("rates") << "pbRates" << QByteArray("/Rates/ViewRates.html");
    QTest::newRow("account phonebook") << "pbGoToZimbrel" << QByteArray("/Phonebook/Phonebook.html");
    QTest::newRow("add $10") << "actionAdd_10" << QByteArray("/Account/BillingInfo.html?amount=10");
    QTest::newRow("add $20") << "actionAdd_20" << QByteArray("/Account/BillingInfo.html?amount=20");
    QTest::newRow("add $50") << "actionAdd_50" << QByteArray("/Account/BillingInfo.html?amount=50");
}

void TestAccountPages::pagePostsTheLoginKey()
{
    QFETCH(QString, trigger);
    QFETCH(QByteArray, target);
    std::unique_ptr<TMainWindow> window(loggedInWindow(R"({"Username":"1000","Password":"pw","Key":"K42x"})"));

    if (auto *button = window->findChild<QPushButton *>(trigger))
        button->click();
    else
        window->findChild<QAction *>(trigger)->trigger();

    const QByteArray path = target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));
    QVERIFY(responder->waitForRequest(path, 30000));
    const HttpResponder::Request request = lastRequestFor(path);
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, target);
    QCOMPARE(request.body, QByteArray("login=K42x&"));

    // The page shows in a maximised window of its own.
    const auto views = browserWindows();
    QCOMPARE(views.size(), 1);
    QVERIFY(views.first()->isVisible());
    QVERIFY(views.first()->windowState() & Qt::WindowMaximized);
    QVERIFY(!views.first()->parent());
    QTRY_VERIFY_WITH_TIMEOUT(views.first()->title() == QString::fromLatin1(path), 30000);
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
    QVERIFY(responder->waitForRequest("/Rates/ViewRates.html", 30000));
    QCOMPARE(browserWindows().size(), 1);
    QWebEngineView *pages = browserWindows().first();
    QTRY_COMPARE_WITH_TIMEOUT(pages->title(), QStringLiteral("/Rates/ViewRates.html"), 30000);

    // The same button twice: the page loads again into the same window.
    rates->click();
    QTRY_COMPARE_WITH_TIMEOUT(responder->requestsFor("/Rates/ViewRates.html").size(), 2, 30000);
    QCOMPARE(browserWindows(), QList<QWebEngineView *>{pages});

    // Closing the window only hides it; the next page shows it again.
    pages->close();
    QVERIFY(!pages->isVisible());
    phonebook->click();
    QVERIFY(responder->waitForRequest("/Phonebook/Phonebook.html", 30000));
    QCOMPARE(browserWindows(), QList<QWebEngineView *>{pages});
    QVERIFY(pages->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(pages->title(), QStringLiteral("/Phonebook/Phonebook.html"), 30000);

    // Billing goes to a second window and never replaces the account page.
    window->findChild<QAction *>(QStringLiteral("actionAdd_10"))->trigger();
    QVERIFY(responder->waitForRequest("/Account/BillingInfo.html", 30000));
    QCOMPARE(browserWindows().size(), 2);
    QWebEngineView *billing = browserWindows().at(0) == pages ? browserWindows().at(1) : browserWindows().at(0);
    window->findChild<QAction *>(QStringLiteral("actionAdd_50"))->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(responder->requestsFor("/Account/BillingInfo.html").size(), 2, 30000);
    QCOMPARE(browserWindows().size(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(billing->url().query(), QStringLiteral("amount=50"), 30000);
    QCOMPARE(pages->title(), QStringLiteral("/Phonebook/Phonebook.html"));

    // The windows do not belong to the main window: they stay when it goes.
    window.reset();
    QCOMPARE(browserWindows().size(), 2);
}

void TestAccountPages::noBrowserBeforeThePagesAreOpened()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow(R"({"Username":"1000","Password":"pw","Key":"k1"})"));
    window->show();
    QTest::qWait(700);
    QVERIFY(browserWindows().isEmpty());
    QVERIFY(responder->requestsFor("/Rates/ViewRates.html").isEmpty());
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
                        "</body></html>");
    responder->setReply("/Rates/rates.csv", "prefix,rate\n001,2\n");
    for (const char *scheme : {"http", "https", "file", "ondavoxtest"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "openUrl");
    QTemporaryDir downloads;
    QWebEngineProfile::defaultProfile()->setDownloadPath(downloads.path());

    std::unique_ptr<TMainWindow> window(loggedInWindow(R"({"Username":"1000","Password":"pw","Key":"k1"})"));
    window->findChild<QPushButton *>(QStringLiteral("pbRates"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(browserWindows().size(), 1, 30000);
    QWebEngineView *view = browserWindows().first();
    QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("rates"), 30000);
    const QUrl ratesUrl = view->url();

    const auto click = [view](const char *id) {
        view->page()->runJavaScript(QStringLiteral("document.getElementById('%1').click()").arg(QLatin1String(id)));
    };
    struct Try { const char *id; QList<QUrl> toBrowser; };
    const Try tries[] = {
        {"other", {QUrl(QString::fromUtf8(other))}},
        {"otherName", {QUrl(QString::fromUtf8(otherName))}},
        {"newWindow", {QUrl(QString::fromUtf8(other + "?new"))}},
        {"scheme", {}},
        {"file", {}},
        {"download", {}},
    };
    for (const Try &attempt : tries) {
        opened.clear();
        click(attempt.id);
        if (!attempt.toBrowser.isEmpty())
            QTRY_VERIFY2_WITH_TIMEOUT(!opened.isEmpty(), attempt.id, 10000);
        else
            QTest::qWait(1500);
        QVERIFY2(opened == attempt.toBrowser, attempt.id);
        QCOMPARE(browserWindows(), QList<QWebEngineView *>{view});
        QCOMPARE(view->url(), ratesUrl);
        QCOMPARE(view->title(), QStringLiteral("rates"));
    }
    for (const char *scheme : {"http", "https", "file", "ondavoxtest"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    QVERIFY(elsewhere.requests().isEmpty());
    QVERIFY(QDir(downloads.path()).isEmpty());

    // Links within the service still work in the window.
    click("inside");
    QVERIFY(responder->waitForRequest("/Phonebook/Phonebook.html", 30000));
    QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("/Phonebook/Phonebook.html"), 30000);
}

int main(int argc, char *argv[])
{
    // What the program's entry point says before the application exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestAccountPages test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_accountpages.moc"
