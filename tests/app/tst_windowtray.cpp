// The window position, the tray icon and its menu, Exit, and the window's
// texts after a language change.
#include "base/settings.h"
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "views/tlogin.h"
#include "httpresponder.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

namespace {

// QCoreApplication::exit() outside the application's own loop cannot end
// anything here, but it marks the thread so that the next local event loop
// returns at once with -1. That mark is how a test sees that the program
// asked to end; running the application's loop once clears it again.
bool exitWasRequested()
{
    QEventLoop probe;
    QTimer::singleShot(100, &probe, [&probe] { probe.exit(1); });
    if (probe.exec() != -1)
        return false;
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    return true;
}

QByteArray storedPosition()
{
    return Settings::open()->value(QLatin1String(Settings::Position)).toByteArray();
}

} // namespace

class TestWindowTray : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void closingSavesThePositionAndTheNextWindowUsesIt();
    void withoutATrayClosingEndsTheProgram();
    void exitLeavesThePositionAlone();
    void unusablePositionIsIgnored();
    void trayAppearsOnlyAfterLogin();
    void trayMenuHoldsShowLogoutExit();
    void withoutATrayTheCreditMenuOffersLogoutAndExit();
    void trayActivation_data();
    void trayActivation();
    void languageChangeRestoresTheTexts();

private:
    TMainWindow *loggedInWindow();
    static QSystemTrayIcon *trayOf(TMainWindow *window) { return window->findChild<QSystemTrayIcon *>(QStringLiteral("trayIcon")); }

    LoginService *service = nullptr;
    HttpResponder *responder = nullptr;
    SettingsSandbox *sandbox = nullptr;
};

void TestWindowTray::init()
{
    service = new LoginService;
    responder = service->responder;
    sandbox = &service->sandbox;
}

void TestWindowTray::cleanup()
{
    setMainWindow(nullptr);
    delete service;
}

TMainWindow *TestWindowTray::loggedInWindow()
{
    auto *window = new TMainWindow;
    setMainWindow(window);
    return window;
}

void TestWindowTray::closingSavesThePositionAndTheNextWindowUsesIt()
{
    QVERIFY(storedPosition().isEmpty());
    QRect placed;
    {
        std::unique_ptr<TMainWindow> window(loggedInWindow());
        window->show();
        window->setGeometry(70, 90, 320, 600);
        QTRY_COMPARE(window->geometry(), QRect(70, 90, 320, 600));
        placed = window->geometry();
        window->close();
        exitWasRequested(); // no tray on this platform; see the next test
        QCOMPARE(storedPosition(), window->saveGeometry());
    }
    std::unique_ptr<TMainWindow> next(loggedInWindow());
    QCOMPARE(next->geometry(), placed);
}

void TestWindowTray::withoutATrayClosingEndsTheProgram()
{
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    window->show();
    window->close();
    QVERIFY(!storedPosition().isEmpty());
    QVERIFY(exitWasRequested());
}

void TestWindowTray::exitLeavesThePositionAlone()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    window->show();
    window->setGeometry(40, 50, 300, 580);
    QTRY_COMPARE(window->geometry(), QRect(40, 50, 300, 580));
    window->close();
    exitWasRequested();
    const QByteArray atClose = storedPosition();

    window->show();
    window->setGeometry(200, 220, 310, 640);
    QTRY_COMPARE(window->geometry(), QRect(200, 220, 310, 640));
    QVERIFY(trayOf(window.get())->isVisible());
    window->findChild<QAction *>(QStringLiteral("actionExit"))->trigger();
    QVERIFY(exitWasRequested());
    QVERIFY(!trayOf(window.get())->isVisible());
    QCOMPARE(storedPosition(), atClose);
}

void TestWindowTray::unusablePositionIsIgnored()
{
    {
        auto settings = Settings::open();
        settings->setValue(QLatin1String(Settings::Position), QByteArray("not a geometry"));
        Settings::sync(*settings);
    }
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    QCOMPARE(window->size(), QSize(306, 550));
}

void TestWindowTray::trayAppearsOnlyAfterLogin()
{
    // No stored login: the dialog waits, and is cancelled.
    sandbox->storeLogin(QString(), QByteArray());
    bool trayDuringLogin = true;
    bool quitsWithLastWindow = false;
    onNextModal([&](QWidget *dialog) {
        trayDuringLogin = false;
        for (QObject *object : QApplication::topLevelWidgets())
            if (object->findChild<QSystemTrayIcon *>())
                trayDuringLogin = true;
        quitsWithLastWindow = QApplication::quitOnLastWindowClosed();
        qobject_cast<QDialog *>(dialog)->reject();
    });
    std::unique_ptr<TMainWindow> cancelled(new TMainWindow);
    QVERIFY(!trayDuringLogin);
    QVERIFY(quitsWithLastWindow);
    QVERIFY(!trayOf(cancelled.get()));
    QVERIFY(QApplication::quitOnLastWindowClosed());
    QTest::qWait(300); // the scheduled quit finds no running application here
    cancelled.reset();

    sandbox->storeLogin(QStringLiteral("demo@ondavox.com"), passwordDigest(QStringLiteral("ondavox-demo")));
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    QSystemTrayIcon *tray = trayOf(window.get());
    QVERIFY(tray);
    QVERIFY(tray->isVisible());
    QVERIFY(!tray->icon().isNull());
    // From now on closing the window leaves the program running.
    QVERIFY(!QApplication::quitOnLastWindowClosed());
}

void TestWindowTray::withoutATrayTheCreditMenuOffersLogoutAndExit()
{
    // The offscreen desktop, like GNOME without extensions, has no tray.
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    QMenu *menu = window->findChild<QPushButton *>(QStringLiteral("pbCreditAmount"))->menu();
    QVERIFY(menu);
    QStringList entries;
    for (QAction *action : menu->actions())
        entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(entries, (QStringList{QStringLiteral("Add $10"), QStringLiteral("Add $20"), QStringLiteral("Add $50"),
                                   QStringLiteral("-"), QStringLiteral("Logout"), QStringLiteral("Exit")}));
    // They are the tray's own actions: Exit from here ends the program.
    menu->actions().last()->trigger();
    QVERIFY(exitWasRequested());
}

void TestWindowTray::trayMenuHoldsShowLogoutExit()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    QMenu *menu = trayOf(window.get())->contextMenu();
    QVERIFY(menu);
    const QList<QAction *> actions = menu->actions();
    QCOMPARE(actions.size(), 5);
    QCOMPARE(actions.at(0)->objectName(), QStringLiteral("actionShow"));
    QVERIFY(actions.at(1)->isSeparator());
    QCOMPARE(actions.at(2)->objectName(), QStringLiteral("actionLogout"));
    QVERIFY(actions.at(3)->isSeparator());
    QCOMPARE(actions.at(4)->objectName(), QStringLiteral("actionExit"));
    QCOMPARE(actions.at(0)->text(), QStringLiteral("Show"));
    QCOMPARE(actions.at(2)->text(), QStringLiteral("Logout"));
    QCOMPARE(actions.at(4)->text(), QStringLiteral("Exit"));

    // "Show" brings a hidden window back.
    window->show();
    window->hide();
    actions.at(0)->trigger();
    QVERIFY(window->isVisible());
}

void TestWindowTray::trayActivation_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<bool>("shows");
    QTest::newRow("click") << QSystemTrayIcon::Trigger << true;
    QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << true;
    QTest::newRow("context menu") << QSystemTrayIcon::Context << false;
    QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << false;
    QTest::newRow("unknown") << QSystemTrayIcon::Unknown << false;
}

void TestWindowTray::trayActivation()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(bool, shows);
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    window->show();
    window->setGeometry(60, 80, 310, 560);
    QTRY_COMPARE(window->geometry(), QRect(60, 80, 310, 560));
    window->hide(); // to the tray

    emit trayOf(window.get())->activated(reason);
    QCOMPARE(window->isVisible(), shows);
    if (shows) {
        QTRY_COMPARE(QApplication::activeWindow(), window.get());
        QCOMPARE(window->geometry(), QRect(60, 80, 310, 560));
    }
}

void TestWindowTray::languageChangeRestoresTheTexts()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    auto *exit = window->findChild<QAction *>(QStringLiteral("actionExit"));
    auto *rates = window->findChild<QPushButton *>(QStringLiteral("pbRates"));
    exit->setText(QStringLiteral("Beenden"));
    rates->setToolTip(QStringLiteral("Tarife"));
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(window.get(), &change);
    QCOMPARE(exit->text(), QStringLiteral("Exit"));
    QCOMPARE(rates->toolTip(), QStringLiteral("Rates"));
}

QTEST_MAIN(TestWindowTray)
#include "tst_windowtray.moc"
