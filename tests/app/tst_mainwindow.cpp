// The main window: its form, the number entry, and the application events
// that reach it from other threads and widgets.
#include "base/tevent.h"
#include "app/tmainwindow.h"
#include "views/tlogin.h"
#include "httpresponder.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTreeWidget>

#include <atomic>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formHasItsWidgets();
    void toolbarButtonsCarryIconsAndTips();
    void numberEntryWaitsForRegistration();
    void numberEntryAcceptsOnlyDigits_data();
    void numberEntryAcceptsOnlyDigits();
    void callStateEventsBecomePhoneStatus();
    void callNumberEventFillsEntryButDoesNotDialUnregistered();
    void unknownEventsAreIgnored();
    void eventsNeverReachADestroyedWindow();

private:
    TMainWindow *loggedInWindow();

    LoginService *service = nullptr;
    HttpResponder *responder = nullptr;
    SettingsSandbox *sandbox = nullptr;
};

void TestMainWindow::init()
{
    service = new LoginService;
    responder = service->responder;
    sandbox = &service->sandbox;
}

void TestMainWindow::cleanup()
{
    setMainWindow(nullptr);
    // What a destroyed window released for later goes now, not at exit.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete service;
}

// The stored login makes the dialog log in by itself.
TMainWindow *TestMainWindow::loggedInWindow()
{
    auto *window = new TMainWindow;
    setMainWindow(window);
    return window;
}

void TestMainWindow::formHasItsWidgets()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    QCOMPARE(window->objectName(), QStringLiteral("TMainWindow"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Ondavox"));
    QCOMPARE(window->size(), QSize(306, 550));
    QCOMPARE(window->minimumSize(), QSize(290, 550));
    QCOMPARE(window->property("class").toString(), QStringLiteral("main-form"));
    QVERIFY(window->statusBar());

    auto *pages = window->findChild<QStackedWidget *>(QStringLiteral("swPages"));
    QVERIFY(pages);
    QCOMPARE(pages->count(), 2);
    QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("pContacts"));
    QCOMPARE(pages->widget(1)->objectName(), QStringLiteral("pCall"));
    QCOMPARE(pages->widget(1)->metaObject()->className(), "TCallDialog");

    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("twMainTabs"));
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Contacts"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Call History"));

    auto *contacts = window->findChild<QTreeWidget *>(QStringLiteral("twContacts"));
    QVERIFY(contacts->isHeaderHidden());
    QCOMPARE(contacts->indentation(), 0);
    QCOMPARE(contacts->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(contacts->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(contacts->property("class").toString(), QStringLiteral("contacts-list"));
    auto *history = window->findChild<QTreeWidget *>(QStringLiteral("twCallHistory"));
    QCOMPARE(history->metaObject()->className(), "THistoryList");
    QVERIFY(history->isHeaderHidden());

    auto *credit = window->findChild<QPushButton *>(QStringLiteral("pbCreditAmount"));
    QCOMPARE(credit->text(), QStringLiteral("$0.00"));
    QCOMPARE(credit->property("class").toString(), QStringLiteral("credit-button"));
    QCOMPARE(credit->contextMenuPolicy(), Qt::NoContextMenu);

    const QStringList actions{"actionAdd_10", "actionAdd_20", "actionAdd_50", "actionExit", "actionShow", "actionLogout"};
    const QStringList texts{"Add $10", "Add $20", "Add $50", "Exit", "Show", "Logout"};
    for (int i = 0; i < actions.size(); ++i) {
        auto *action = window->findChild<QAction *>(actions.at(i));
        QVERIFY2(action, qPrintable(actions.at(i)));
        QCOMPARE(action->text(), texts.at(i));
    }
}

void TestMainWindow::toolbarButtonsCarryIconsAndTips()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    const struct {
        const char *name;
        const char *tip;
        QSize iconSize;
    } buttons[] = {
        {"pbAddContact", "Add contact", {30, 30}},
        {"pbText", "Send text", {30, 26}},
        {"pbGoToZimbrel", "Go to your Ondavox account", {30, 30}},
        {"pbRates", "Rates", {30, 30}},
        {"pbSettings", "Settings", {30, 30}},
        {"pbCall", "Call", {32, 32}},
    };
    for (const auto &expected : buttons) {
        auto *button = window->findChild<QPushButton *>(QString::fromLatin1(expected.name));
        QVERIFY2(button, expected.name);
        QCOMPARE(button->toolTip(), QString::fromLatin1(expected.tip));
        QCOMPARE(button->iconSize(), expected.iconSize);
        QVERIFY2(!button->icon().pixmap(expected.iconSize).isNull(), expected.name);
        QVERIFY(button->isFlat());
        QVERIFY(button->text().isEmpty());
    }
    QCOMPARE(window->findChild<QPushButton *>(QStringLiteral("pbCall"))->property("class").toString(), QStringLiteral("call-button"));
    QCOMPARE(window->findChild<QPushButton *>(QStringLiteral("pbRates"))->property("class").toString(), QStringLiteral("toolbar-button"));
    QCOMPARE(window->findChild<QLineEdit *>(QStringLiteral("leNumber"))->property("class").toString(), QStringLiteral("phone-input"));
}

void TestMainWindow::numberEntryWaitsForRegistration()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    // Nothing registers the phone here, so the strip stays disabled and
    // Enter in the entry does nothing.
    auto *strip = window->findChild<QWidget *>(QStringLiteral("wCall"));
    QVERIFY(!strip->isEnabled());
    auto *call = window->findChild<QPushButton *>(QStringLiteral("pbCall"));
    QSignalSpy clicked(call, &QPushButton::clicked);
    QTest::keyClick(window->findChild<QLineEdit *>(QStringLiteral("leNumber")), Qt::Key_Return);
    QCOMPARE(clicked.size(), 0);
}

void TestMainWindow::numberEntryAcceptsOnlyDigits_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("leading zero") << QStringLiteral("0044123") << QStringLiteral("0044123");
    QTest::newRow("26 digits") << QString(26, QLatin1Char('7')) << QString(26, QLatin1Char('7'));
    QTest::newRow("27th digit refused") << QString(27, QLatin1Char('7')) << QString(26, QLatin1Char('7'));
    QTest::newRow("letters refused") << QStringLiteral("12ab3") << QStringLiteral("123");
    QTest::newRow("plus refused") << QStringLiteral("+4412") << QStringLiteral("4412");
    QTest::newRow("spaces refused") << QStringLiteral("44 12") << QStringLiteral("4412");
}

void TestMainWindow::numberEntryAcceptsOnlyDigits()
{
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    auto *number = window->findChild<QLineEdit *>(QStringLiteral("leNumber"));
    // The strip is disabled until registration; typing is checked on the
    // field itself.
    window->findChild<QWidget *>(QStringLiteral("wCall"))->setEnabled(true);
    QTest::keyClicks(number, typed);
    QCOMPARE(number->text(), kept);
}

void TestMainWindow::callStateEventsBecomePhoneStatus()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    QSignalSpy status(window.get(), &TMainWindow::phoneStatus);
    for (int code : {EVENT_CALL_RINGING, EVENT_CALL_ANSWERED, EVENT_CALL_ENDED})
        postToMainWindow(new TEvent(code));
    QTRY_COMPARE(status.size(), 3);
    QCOMPARE(status.at(0).at(0).toInt(), 5001);
    QCOMPARE(status.at(1).at(0).toInt(), 5002);
    QCOMPARE(status.at(2).at(0).toInt(), 5003);
}

void TestMainWindow::callNumberEventFillsEntryButDoesNotDialUnregistered()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    auto *call = window->findChild<QPushButton *>(QStringLiteral("pbCall"));
    QSignalSpy clicked(call, &QPushButton::clicked);

    auto *event = new TNumberEvent(EVENT_CALL_NUMBER);
    event->countryCode = QStringLiteral("44");
    event->number = QStringLiteral("2071234567");
    event->wholePhone = QStringLiteral("+44 2071234567"); // not what the validator would let through
    postToMainWindow(event);

    auto *number = window->findChild<QLineEdit *>(QStringLiteral("leNumber"));
    QTRY_COMPARE(number->text(), QStringLiteral("+44 2071234567"));
    QCOMPARE(clicked.size(), 0);
}

void TestMainWindow::unknownEventsAreIgnored()
{
    std::unique_ptr<TMainWindow> window(loggedInWindow());
    QSignalSpy status(window.get(), &TMainWindow::phoneStatus);
    auto *number = window->findChild<QLineEdit *>(QStringLiteral("leNumber"));
    number->setText(QStringLiteral("123"));

    postToMainWindow(new TEvent(7000));
    postToMainWindow(new QEvent(QEvent::Type(QEvent::User))); // right type, not one of ours
    postToMainWindow(new QEvent(QEvent::Type(QEvent::User + 1)));
    auto *marker = new TEvent(EVENT_CALL_RINGING);
    postToMainWindow(marker);
    QTRY_COMPARE(status.size(), 1); // only the marker
    QCOMPARE(number->text(), QStringLiteral("123"));
}

void TestMainWindow::eventsNeverReachADestroyedWindow()
{
    // Another thread keeps posting call-state events, as the engine's thread
    // does, while windows are destroyed and replaced as at logout.
    std::atomic<bool> running{true};
    std::atomic<int> posted{0};
    std::unique_ptr<QThread> poster(QThread::create([&] {
        while (running) {
            postToMainWindow(new TEvent(EVENT_CALL_RINGING));
            ++posted;
            QThread::usleep(200);
        }
    }));
    poster->start();

    int received = 0;
    for (int round = 0; round < 3; ++round) {
        TMainWindow *window = loggedInWindow();
        connect(window, &TMainWindow::phoneStatus, this, [&received] { ++received; });
        QTest::qWait(50);
        // Logout forgets the window before destroying it.
        setMainWindow(nullptr);
        delete window;
        QTest::qWait(20);
    }
    running = false;
    poster->wait();
    QCoreApplication::processEvents();
    QVERIFY(posted > 0);
    QVERIFY(received > 0);
    QVERIFY(received <= posted);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
