// Logout: the stored login is forgotten, the window and everything of its
// login go, the old registration is withdrawn before the next one, and a
// logout from inside one of the window's own waits does not crash (these
// tests also run under AddressSanitizer).
#include "base/settings.h"
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "views/tlogin.h"
#include "engine_double.h"
#include "httpresponder.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace {

struct LoginDialogSeen {
    bool shown = false;
    QString email;
    QString password;
    QString storedEmail;
    QString storedPassword;
    bool oldRegistrationWithdrawn = false;
    bool oldWindowGone = false;
};

} // namespace

class TestLogout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void logoutForgetsTheLoginAndStartsAfresh();
    void cancellingTheNextLoginLeavesNoTray();
    void secondTriggerDoesNothingMore();
    void logoutWhileTheUpdateCheckWaits();
    void logoutWhileTheUpdateQuestionIsOpen();
    void logoutWhileTheTextDialogIsOpen();
    void eventsDuringLogoutAreDropped();

private:
    TMainWindow *loggedInWindow();
    // Handles the next login dialog: records what it shows, then logs in
    // (registration id nextId) or cancels it.
    void answerNextLogin(LoginDialogSeen *seen, const QPointer<TMainWindow> &old, bool logIn, int nextId = 0);
    // The window that replaced old, once the replacement is done.
    TMainWindow *waitForNewWindow(const QPointer<TMainWindow> &old);
    static void logout(TMainWindow *window) { window->findChild<QAction *>(QStringLiteral("actionLogout"))->trigger(); }

    LoginService *service = nullptr;
    HttpResponder *responder = nullptr;
    SettingsSandbox *sandbox = nullptr;
};

void TestLogout::init()
{
    EngineDouble::reset();
    EngineDouble::setRegisterResult(7);
    service = new LoginService;
    responder = service->responder;
    sandbox = &service->sandbox;
}

void TestLogout::cleanup()
{
    delete mainWindow();
    setMainWindow(nullptr);
    QApplication::setQuitOnLastWindowClosed(true);
    delete service;
}

TMainWindow *TestLogout::loggedInWindow()
{
    auto *window = new TMainWindow;
    setMainWindow(window);
    window->show();
    return window;
}

void TestLogout::answerNextLogin(LoginDialogSeen *seen, const QPointer<TMainWindow> &old, bool logIn, int nextId)
{
    onNextModal([=](QWidget *modal) {
        auto *dialog = qobject_cast<TLogin *>(modal);
        if (!dialog)
            return;
        seen->shown = true;
        auto *email = dialog->findChild<QLineEdit *>(QStringLiteral("leEmail"));
        auto *password = dialog->findChild<QLineEdit *>(QStringLiteral("lePassword"));
        seen->email = email->text();
        seen->password = password->text();
        const auto settings = Settings::open();
        seen->storedEmail = settings->value(QLatin1String(Settings::LoginEmail), QStringLiteral("absent")).toString();
        seen->storedPassword = settings->value(QLatin1String(Settings::LoginPassword), QStringLiteral("absent")).toString();
        seen->oldWindowGone = old.isNull();
        for (const auto &call : EngineDouble::callsOf("iaxc_unregister"))
            seen->oldRegistrationWithdrawn |= call.args == std::vector<std::string>{"7"};
        if (!logIn) {
            dialog->reject();
            return;
        }
        EngineDouble::setRegisterResult(nextId);
        email->setText(QStringLiteral("demo@ondavox.com"));
        password->setText(QStringLiteral("ondavox-demo"));
        dialog->findChild<QPushButton *>(QStringLiteral("pbLogin"))->click();
    }, 10000);
}

TMainWindow *TestLogout::waitForNewWindow(const QPointer<TMainWindow> &old)
{
    for (int waited = 0; waited < 10000 && !(old.isNull() && mainWindow() && mainWindow()->isVisible()); waited += 20)
        QTest::qWait(20);
    return old.isNull() ? mainWindow() : nullptr;
}

void TestLogout::logoutForgetsTheLoginAndStartsAfresh()
{
    const QPointer<TMainWindow> old = loggedInWindow();
    const QPointer<QSystemTrayIcon> oldTray = old->findChild<QSystemTrayIcon *>();
    QVERIFY(oldTray);
    const QPointer<QMenu> oldMenu = oldTray->contextMenu();
    LoginDialogSeen seen;
    answerNextLogin(&seen, old, true, 8);

    logout(old);
    // The slot has returned; the window is still there until control is
    // back in the event loop, but the tray icon is gone already.
    QVERIFY(!old.isNull());
    QVERIFY(oldTray.isNull());
    QVERIFY(!old->isVisible());
    QCOMPARE(mainWindow(), nullptr);

    TMainWindow *next = waitForNewWindow(old);
    QVERIFY(next);
    QVERIFY(seen.shown);
    QCOMPARE(seen.storedEmail, QString());
    QCOMPARE(seen.storedPassword, QString());
    QCOMPARE(seen.email, QString());
    QCOMPARE(seen.password, QString());
    // The old window and what it made went before the new login began, and
    // the old registration was withdrawn before the new one was made.
    QVERIFY(seen.oldWindowGone);
    QVERIFY(oldMenu.isNull());
    QVERIFY(seen.oldRegistrationWithdrawn);
    const std::vector<std::string> calls = EngineDouble::functions();
    const auto unregister = std::find(calls.begin(), calls.end(), "iaxc_unregister");
    QVERIFY(unregister != calls.end());
    QCOMPARE(std::count(calls.begin(), calls.end(), "iaxc_register"), 2);
    QVERIFY(std::find(unregister, calls.end(), "iaxc_register") != calls.end());
    QCOMPARE(std::count(calls.begin(), unregister, "iaxc_register"), 1);

    // The new window is the logged-in one, with a tray icon of its own.
    QVERIFY(next->findChild<QSystemTrayIcon *>());
    QVERIFY(next->findChild<QSystemTrayIcon *>()->isVisible());
    const auto settings = Settings::open();
    QCOMPARE(settings->value(QLatin1String(Settings::LoginEmail)).toString(), QStringLiteral("demo@ondavox.com"));
}

void TestLogout::cancellingTheNextLoginLeavesNoTray()
{
    const QPointer<TMainWindow> old = loggedInWindow();
    LoginDialogSeen seen;
    answerNextLogin(&seen, old, false);
    logout(old);
    TMainWindow *next = waitForNewWindow(old);
    QVERIFY(next);
    QVERIFY(seen.shown);
    QVERIFY(!next->findChild<QSystemTrayIcon *>());
    // With the window's close the program ends (the real program is run
    // to its end code by logout_cancel.sh).
    QVERIFY(QApplication::quitOnLastWindowClosed());
    QTest::qWait(300);
}

void TestLogout::secondTriggerDoesNothingMore()
{
    const QPointer<TMainWindow> old = loggedInWindow();
    LoginDialogSeen seen;
    answerNextLogin(&seen, old, false);
    logout(old);
    logout(old);
    TMainWindow *next = waitForNewWindow(old);
    QVERIFY(next);
    QTest::qWait(500);
    QCOMPARE(mainWindow(), next);
    int windows = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        windows += qobject_cast<TMainWindow *>(widget) ? 1 : 0;
    QCOMPARE(windows, 1);
}

void TestLogout::logoutWhileTheUpdateCheckWaits()
{
    // The check waits for its reply in a loop of its own; the logout comes
    // from inside that loop and the window goes while the wait is on.
    responder->setReply("/update.php", HttpResponder::Reply{200, R"({"Version":102})", 1500, false});
    const QPointer<TMainWindow> old = loggedInWindow();
    connect(responder, &HttpResponder::requestReceived, old, [old](const QByteArray &path) {
        if (path == "/update.php")
            QTimer::singleShot(50, old, [old] { logout(old); });
    });
    LoginDialogSeen seen;
    answerNextLogin(&seen, old, false);
    QVERIFY(waitForNewWindow(old));
    QVERIFY(seen.shown);
    // The late reply offers nobody anything.
    bool asked = false;
    onNextModal([&asked](QWidget *modal) {
        asked = qobject_cast<QMessageBox *>(modal) != nullptr;
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
    }, 2500);
    QTest::qWait(2600);
    QVERIFY(!asked);
}

void TestLogout::logoutWhileTheUpdateQuestionIsOpen()
{
    responder->setReply("/update.php", R"({"Version":102,"DownloadUrlWin":"https://downloads.example/new.exe"})");
    const QPointer<TMainWindow> old = loggedInWindow();
    LoginDialogSeen seen;
    QPointer<QMessageBox> question;
    onNextModal([&, old](QWidget *modal) {
        question = qobject_cast<QMessageBox *>(modal);
        if (!question)
            return;
        answerNextLogin(&seen, old, false);
        logout(old); // from the tray menu, the question still open
    }, 5000);
    QVERIFY(waitForNewWindow(old));
    QVERIFY(seen.shown);
    QVERIFY(question.isNull()); // went with its window
}

void TestLogout::logoutWhileTheTextDialogIsOpen()
{
    const QPointer<TMainWindow> old = loggedInWindow();
    QTest::qWait(700); // past the first update check
    LoginDialogSeen seen;
    bool textDialogOpen = false;
    onNextModal([&, old](QWidget *modal) {
        textDialogOpen = true;
        answerNextLogin(&seen, old, false);
        logout(old);
        Q_UNUSED(modal);
    }, 5000);
    old->findChild<QPushButton *>(QStringLiteral("pbText"))->click();
    QVERIFY(textDialogOpen);
    QVERIFY(waitForNewWindow(old));
    QVERIFY(seen.shown);
}

void TestLogout::eventsDuringLogoutAreDropped()
{
    const QPointer<TMainWindow> old = loggedInWindow();
    int statusSeen = 0;
    connect(old, &TMainWindow::phoneStatus, this, [&statusSeen] { ++statusSeen; });
    LoginDialogSeen seen;
    answerNextLogin(&seen, old, false);
    logout(old);
    // What the engine's thread posts now finds no window and is dropped.
    postToMainWindow(new TEvent(EVENT_CALL_ENDED));
    QVERIFY(waitForNewWindow(old));
    QCOMPARE(statusSeen, 0);
}

QTEST_MAIN(TestLogout)
#include "tst_logout.moc"
