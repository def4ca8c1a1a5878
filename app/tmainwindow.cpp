#include "app/tmainwindow.h"
#include "ui_tmainwindow.h"

#include "account/taccount.h"
#include "app/accountpages.h"
#include "app/updatecheck.h"
#include "base/deployment.h"
#include "base/displaytext.h"
#include "base/settings.h"
#include "base/tevent.h"
#include "telephony/audiodevices.h"
#include "views/accountmessages.h"
#include "views/tcontactinfo.h"
#include "views/tcontacttree.h"
#include "views/thistorylist.h"
#include "views/tlogin.h"
#include "views/tphonebooksearch.h"
#include "views/tsettings.h"
#include "views/ttextdialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDebug>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>

#include <cstdlib>
#include <functional>

TMainWindow *mainWindow()
{
    return qobject_cast<TMainWindow *>(eventReceiver());
}

void setMainWindow(TMainWindow *window)
{
    setEventReceiver(window);
}

namespace {

// How long the status bar says that a number was refused; meanwhile it
// hides the registration state.
constexpr int RefusalShownMs = 5000;

// How long after a hang-up the placed calls are asked for a second time.
constexpr int kHistoryAfterCallDelay = 2500;

// The link handed to the program and not dialled yet. GUI thread only.
QString &waitingLink()
{
    static QString link;
    return link;
}

} // namespace

void dialFromOutside(const QString &link)
{
    waitingLink() = link;
    if (TMainWindow *window = mainWindow())
        window->dialWaitingNumber();
}

void bringProgramToFront()
{
    QWidget *front = QApplication::activeModalWidget();
    if (!front)
        front = mainWindow();
    if (!front)
        return;
    front->setWindowState(front->windowState() & ~Qt::WindowMinimized);
    front->show();
    front->raise();
    front->activateWindow();
}

namespace {

// Runs an action once the watched widget has been painted for the first
// time, after that paint has reached the screen.
class AfterFirstPaint : public QObject
{
public:
    AfterFirstPaint(QWidget *watched, std::function<void()> action)
        : QObject(watched)
        , action(std::move(action))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, action);
        }
        return false;
    }

private:
    std::function<void()> action;
};

} // namespace

TMainWindow::TMainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::TMainWindow)
{
    // The engine runs from before the login on.
    initTelephony();

    account = new TAccount;

    // Until the login succeeds, closing the last window ends the program.
    QApplication::setQuitOnLastWindowClosed(true);

    // The login dialog comes first. This window's own widgets, which take
    // longer to build than the dialog, are built once the dialog is on the
    // screen, while the user types or the automatic login waits for its
    // answer, and at the latest when the dialog closes.
    auto *login = new TLogin(account);
    connect(login, &TLogin::pageRequested, this, &TMainWindow::openLoginPage);
    bool built = false;
    const auto build = [this, &built] {
        if (!built) {
            built = true;
            buildWindow();
        }
    };
    new AfterFirstPaint(login, build); // goes with the dialog, before build does
    const int answer = login->exec();
    build();
    delete login;
    if (answer == QDialog::Accepted)
        startSession();
    else
        QTimer::singleShot(200, qApp, &QCoreApplication::quit);
}

void TMainWindow::buildWindow()
{
    ui->setupUi(this);

    // Where the window was when it was last closed.
    restoreWindowPosition();

    // Call-state codes from the engine's thread arrive as phoneStatus.
    connect(this, &TMainWindow::phoneStatus, this, &TMainWindow::onPhoneStatus);

    // The one text-message dialog, reused for every message.
    textDialog = new TTextDialog;
    connect(textDialog, &TTextDialog::sendText, this, &TMainWindow::onText);

    // Nothing can be dialled until the phone is registered.
    ui->wCall->setEnabled(false);

    // The balance goes on the credit button; the downloads fill the tree and
    // the history list. (The account sends nothing of the sort before the
    // login has succeeded.)
    connect(account, &TAccount::creditUpdated, this, &TMainWindow::onCreditUpdated);
    contactTree = new TContactTree(ui->twContacts);
    contactTree->attach(account);
    ui->twCallHistory->attach(account);
    showAccountMessages(account);
    // Ctrl+F, or a letter typed on the phonebook, searches it.
    auto *search = new TPhonebookSearch(ui->twContacts, ui->leSearch);
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this, search] {
        if (ui->swPages->currentWidget() != ui->pContacts)
            return;
        ui->twMainTabs->setCurrentWidget(ui->tab);
        search->start();
    });
}

void TMainWindow::startSession()
{
    // From now on closing the window sends it to the tray.
    QApplication::setQuitOnLastWindowClosed(false);

    // The call area opens once the engine has taken the registration.
    registerPhone(account);

    // Only digits, as many as an international number can have.
    ui->leNumber->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]\\d{0,25}")), ui->leNumber));

    // The microphone and speaker chosen in the settings dialog.
    applyStoredDevices();

    // The balance every second, the placed calls every minute.
    creditTimer = new QTimer(this);
    connect(creditTimer, &QTimer::timeout, this, &TMainWindow::onCreditTimerTimeout);
    creditTimer->start(1000);
    callHistoryTimer = new QTimer(this);
    connect(callHistoryTimer, &QTimer::timeout, this, &TMainWindow::onCallHistoryTimer);
    callHistoryTimer->start(60000);
    historyAfterCall = new QTimer(this);
    historyAfterCall->setSingleShot(true);
    historyAfterCall->setInterval(kHistoryAfterCallDelay);
    connect(historyAfterCall, &QTimer::timeout, this, &TMainWindow::onCallHistoryTimer);

    setUpCreditMenu();
    ui->twMainTabs->setCurrentIndex(0);

    // The first history and balance without waiting for the timers.
    QTimer::singleShot(500, account, &TAccount::getCallHistory);
    QTimer::singleShot(500, account, &TAccount::getCreditBallance);

    setUpTray();

    // Whether a newer version exists, once the window is up.
    QTimer::singleShot(500, this, &TMainWindow::checkForUpdate);
}

void TMainWindow::setUpCreditMenu()
{
    // The credit button opens the menu for adding credit.
    creditMenu.addAction(ui->actionAdd_10);
    creditMenu.addAction(ui->actionAdd_20);
    creditMenu.addAction(ui->actionAdd_50);
    ui->pbCreditAmount->setMenu(&creditMenu);
    // Without a system tray its menu can never be opened: Logout and Exit go
    // where the user can reach them.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        creditMenu.addSeparator();
        creditMenu.addAction(ui->actionLogout);
        creditMenu.addAction(ui->actionExit);
    }
}

void TMainWindow::setUpTray()
{
    // The tray icon and its menu: the way back to a closed window, and the
    // way to log out or exit.
    trayMenu = new QMenu(this);
    trayMenu->setObjectName(QStringLiteral("trayMenu"));
    trayMenu->addAction(ui->actionShow);
    trayMenu->addSeparator();
    trayMenu->addAction(ui->actionLogout);
    trayMenu->addSeparator();
    trayMenu->addAction(ui->actionExit);
    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setObjectName(QStringLiteral("trayIcon"));
    connect(trayIcon, &QSystemTrayIcon::activated, this, &TMainWindow::onTrayIconActivated);
    trayIcon->setIcon(QIcon(QStringLiteral(":/Icon.png")));
    trayIcon->setToolTip(windowTitle());
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setVisible(true);
}

TMainWindow::~TMainWindow()
{
    // A logout ends the call and withdraws this window's registration; the
    // next login registers anew.
    endTelephony();
    // Later, not now: the dialog may be open, with its run on the stack.
    if (textDialog)
        textDialog->deleteLater();
    // The web-service client belongs to this login; its requests end with
    // it. Later, not now: a contact request may be waiting for its reply
    // with its run on the stack.
    if (account)
        account->deleteLater();
    delete ui;
}

void TMainWindow::endTelephony()
{
    // Otherwise the call would go on being charged until the server gave up on us.
    if (callInProgress) {
        callInProgress = false;
        dropCall();
    }
    if (phoneState.registrationId != 0) {
        unregisterAccount(phoneState.registrationId);
        phoneState.registrationId = 0;
    }
}

void endTelephonyAtQuit()
{
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [] {
        // The windows are about to be destroyed with the application.
        stopPostingEvents();
        if (TMainWindow *window = mainWindow())
            window->endTelephony();
        // Sends what is still owed to the server and stops the engine's
        // thread, so no callback runs while the process ends.
        shutdownEngine();
    });
}

void TMainWindow::customEvent(QEvent *event)
{
    const auto *tevent = dynamic_cast<const TEvent *>(event);
    if (!tevent || event->type() != TEvent::Type)
        return;

    switch (tevent->code) {
    case EVENT_CALL_RINGING:
    case EVENT_CALL_ANSWERED:
    case EVENT_CALL_ENDED:
        emit phoneStatus(tevent->code);
        break;
    case EVENT_AUDIO_LEVELS:
        if (const auto *levels = dynamic_cast<const TLevelsEvent *>(tevent))
            emit audioLevels(levels->input, levels->output);
        break;
    case EVENT_CALL_STATISTICS:
        if (const auto *statistics = dynamic_cast<const TStatisticsEvent *>(tevent))
            ui->pCall->showStatistics(statistics->statistics);
        break;
    case EVENT_REGISTRATION_REPLY:
        if (const auto *reply = dynamic_cast<const TRegistrationEvent *>(tevent))
            showRegistrationReply(*reply);
        break;
    case EVENT_CALL_NUMBER: {
        const auto *numberEvent = dynamic_cast<const TNumberEvent *>(tevent);
        if (!numberEvent)
            break;
        // Set directly: the number comes from the phonebook or the history,
        // not from the keyboard, so the validator does not apply. A click on
        // the disabled button (not registered) does nothing.
        ui->leNumber->setText(numberEvent->wholePhone);
        ui->pbCall->click();
        break;
    }
    case EVENT_TEXT_NUMBER: {
        const auto *numberEvent = dynamic_cast<const TNumberEvent *>(tevent);
        if (!numberEvent || !textDialog)
            break;
        textDialog->clearText();
        textDialog->setCountryCode(numberEvent->countryCode);
        textDialog->setNumber(numberEvent->number);
        textDialog->exec();
        break;
    }
    default:
        break;
    }
}

void TMainWindow::initTelephony()
{
    phoneState.silenceThreshold = -99.0f;
    if (!startEngine(phoneState)) {
        // Without the engine the program is of no use; say so where a
        // desktop user sees it, and end with a failure code.
        QMessageBox::critical(nullptr, tr("Error"), tr("iaxclient not found"));
        std::exit(EXIT_FAILURE);
    }
}

void TMainWindow::registerPhone(TAccount *client)
{
    phoneState.registrationId = registerAccount(client->username(), client->password(), client->server());
    if (phoneState.registrationId != 0)
        ui->wCall->setEnabled(true);
    qDebug("Connect status: %d", phoneState.registrationId);

    // The engine answers later; until then the status bar says it is trying.
    if (!registrationStatus) {
        registrationStatus = new QLabel(statusBar());
        registrationStatus->setObjectName(QStringLiteral("lblRegistration"));
        statusBar()->addWidget(registrationStatus, 1);
    }
    registrationStatus->setText(registrationRequestText(phoneState.registrationId));
}

void TMainWindow::showRegistrationReply(const TRegistrationEvent &event)
{
    // Answers to an older window's registration may still be on their way.
    if (!registrationStatus || event.registrationId == 0 || event.registrationId != phoneState.registrationId)
        return;
    registrationStatus->setText(registrationStatusText(event.reply));
    registered = event.reply == IAXC_REGISTRATION_REPLY_ACK;
    if (registered)
        dialWaitingNumber();
}

void TMainWindow::dialWaitingNumber()
{
    QString &link = waitingLink();
    if (link.isEmpty() || !account || loggingOut || mainWindow() != this)
        return;
    const DialledNumber dialled = dialledNumber(linkedNumber(link));
    if (dialled.status != DialledNumber::Ready) {
        link.clear();
        if (dialled.status == DialledNumber::Refused)
            statusBar()->showMessage(refusedNumberText(), RefusalShownMs);
        return;
    }
    if (!registered)
        return;
    link.clear();
    // In the number field as the subscriber would type it, international
    // and without the prefix, so that the call runs and shows like a typed
    // one. ("00999" keeps its prefix: without it, it is the echo test.)
    QString typed = dialled.number;
    if (typed.startsWith(QLatin1String("00")) && typed != QLatin1String("00999"))
        typed.remove(0, 2);
    ui->leNumber->setText(typed);
    // A call in progress is not cut off: the number waits in the field.
    if (!callInProgress)
        ui->pbCall->click();
}

void TMainWindow::call(QString number)
{
    if (!account)
        return;
    const DialledNumber dialled = dialledNumber(number);
    if (dialled.status == DialledNumber::Blank)
        return;
    if (dialled.status == DialledNumber::Refused) {
        statusBar()->showMessage(refusedNumberText(), RefusalShownMs);
        return;
    }
    statusBar()->clearMessage();
    const QString dial = dialString(account->username(), account->password(), account->server(), dialled.number);
    // Desktop sessions keep debug output in their logs: never the password.
    qDebug("\"%s\"", qPrintable(dialString(account->username(), QStringLiteral("********"),
                                            account->server(), dialled.number)));
    ui->pCall->stop();
    callInProgress = true;
    placeCall(dial);
    ui->pCall->setNumber(QLatin1Char('+') + ui->leNumber->text());
    ui->swPages->setCurrentWidget(ui->pCall);
}

void TMainWindow::hangUp()
{
    callInProgress = false;
    dropCall();
    ui->swPages->setCurrentWidget(ui->pContacts);
    if (account)
        account->getCallHistory();
    if (historyAfterCall)
        historyAfterCall->start();
}

void TMainWindow::on_pbSettings_clicked()
{
    TSettings settings;
    connect(this, &TMainWindow::audioLevels, &settings, &TSettings::showLevels);
    settings.exec();
}

void TMainWindow::on_pbHangUp_clicked()
{
    hangUp();
}

void TMainWindow::on_pbCall_clicked()
{
    call(ui->leNumber->text());
}

void TMainWindow::onPhoneStatus(int code)
{
    switch (code) {
    case EVENT_CALL_RINGING:
        break;
    case EVENT_CALL_ANSWERED:
        ui->pCall->start();
        break;
    default:
        hangUp();
        ui->pCall->stop();
        break;
    }
}

void TMainWindow::onGoBack()
{
    ui->swPages->setCurrentWidget(ui->pContacts);
}

void TMainWindow::onText(QString countryCode, QString number, QString text)
{
    if (account)
        account->sendTextMessage(countryCode, number, text);
    ui->swPages->setCurrentWidget(ui->pContacts);
}

void TMainWindow::on_twContacts_currentItemChanged(QTreeWidgetItem *current, QTreeWidgetItem *)
{
    if (!current)
        return;
    contactTree->expand(current);
    // Lays the rows out again with their new heights. (Growing the list by a
    // pixel, as was once done for this, leaves it a pixel taller each time.)
    ui->twContacts->doItemsLayout();
}

void TMainWindow::on_twContacts_itemSelectionChanged()
{
}

void TMainWindow::on_twContacts_itemChanged(QTreeWidgetItem *, int)
{
}

void TMainWindow::on_pbCreditAmount_clicked()
{
    // The button's menu opens by itself.
}

void TMainWindow::on_pbText_clicked()
{
    if (!textDialog)
        return;
    textDialog->clearText();
    textDialog->setCountryCode(QString());
    textDialog->setNumber(QString());
    textDialog->exec();
}

void TMainWindow::on_pbAddContact_clicked()
{
    // Held apart from the window: a logout may replace the window while the
    // editor is open.
    const QPointer<TAccount> client = account;
    if (!client)
        return;
    TContactInfo editor(nullptr, false);
    editor.setGroups(client->groups());
    if (editor.exec() == QDialog::Accepted && client)
        client->addNewContact(editor.contact());
}

void TMainWindow::onCreditUpdated(QString amount)
{
    ui->pbCreditAmount->setText(QLatin1Char('$') + withoutDirectionControls(amount));
}

void TMainWindow::onCreditTimerTimeout()
{
    if (account)
        account->getCreditBallance();
}

void TMainWindow::onCallHistoryTimer()
{
    if (account)
        account->getCallHistory();
}

void TMainWindow::openBillingPage(int amount)
{
    AccountPages::open(AccountPages::BillingWindow, QStringLiteral("/Account/BillingInfo.html"),
                       FormFields().add(QStringLiteral("amount"), amount), account ? account->key() : QString());
}

void TMainWindow::openLoginPage(const QString &path)
{
    // Each of these pages has a window of its own, named by its path.
    AccountPages::openPublic(path, path);
}

void TMainWindow::on_pbRates_clicked()
{
    AccountPages::open(AccountPages::PagesWindow, QStringLiteral("/Rates/ViewRates.html"), FormFields(),
                       account ? account->key() : QString());
}

void TMainWindow::on_pbGoToZimbrel_clicked()
{
    AccountPages::open(AccountPages::PagesWindow, QStringLiteral("/Phonebook/Phonebook.html"), FormFields(),
                       account ? account->key() : QString());
}

void TMainWindow::on_actionAdd_50_triggered()
{
    openBillingPage(50);
}

void TMainWindow::on_actionAdd_20_triggered()
{
    openBillingPage(20);
}

void TMainWindow::on_actionAdd_10_triggered()
{
    openBillingPage(10);
}

void TMainWindow::checkForUpdate()
{
    // The wait below runs the event loop: a logout may destroy this window
    // before it returns.
    const QPointer<TMainWindow> self(this);
    const UpdateCheck::Offer offer = UpdateCheck::fetch(this);
    // Offered only when Yes can open the address: otherwise it would do
    // nothing.
    const QUrl download = offer.downloadUrl();
    if (!self || !offer.isNewer() || download.isEmpty())
        return;

    // On the heap, not the stack: it is a child of the window, and the
    // window may go (and take it along) while the question is open.
    const QPointer<QMessageBox> question =
        new QMessageBox(QMessageBox::Question, tr("Update available"),
                        tr("There is a new version of Ondavox available for download. "
                           "Do you want to download the new version?"),
                        QMessageBox::Yes | QMessageBox::No, this);
    question->setObjectName(QStringLiteral("updateQuestion"));
    question->setDefaultButton(QMessageBox::Yes);
    const int answer = question->exec();
    delete question.data();
    if (!self || answer != QMessageBox::Yes)
        return;
    QDesktopServices::openUrl(download);
}

void TMainWindow::saveWindowPosition()
{
    const auto settings = Settings::open();
    settings->setValue(QLatin1String(Settings::Position), saveGeometry());
    Settings::sync(*settings);
}

void TMainWindow::restoreWindowPosition()
{
    // A missing or unusable value leaves the form's geometry.
    const QByteArray position = Settings::open()->value(QLatin1String(Settings::Position)).toByteArray();
    if (!position.isEmpty())
        restoreGeometry(position);
}

void TMainWindow::closeEvent(QCloseEvent *event)
{
    qDebug("closeEvent");
    saveWindowPosition();
    QMainWindow::closeEvent(event);

    // Without a system tray a hidden window could never be shown again and
    // the program would run on out of reach; closing the window ends it
    // instead, as closing a program's only window does everywhere else.
    // Before the login the application ends on its own with its last window.
    if (!loggingOut && trayIcon && !QSystemTrayIcon::isSystemTrayAvailable())
        QCoreApplication::exit(0);
}

void TMainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void TMainWindow::onTrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        raise();
        activateWindow();
        break;
    default:
        // The context menu opens by itself; other clicks mean nothing here.
        break;
    }
}

void TMainWindow::on_actionExit_triggered()
{
    // Not closed first: Exit leaves "Position" as the last close wrote it.
    if (trayIcon)
        trayIcon->hide();
    QCoreApplication::exit(0);
}

namespace {

// A fresh window for the next login, as at start-up.
void openNewMainWindow()
{
    auto *window = new TMainWindow;
    setMainWindow(window);
    window->show();
}

} // namespace

void TMainWindow::on_actionLogout_triggered()
{
    if (loggingOut)
        return;
    loggingOut = true;

    // The next login dialog starts empty and does not log in by itself.
    {
        const auto settings = Settings::open();
        settings->setValue(QLatin1String(Settings::LoginEmail), QString());
        settings->setValue(QLatin1String(Settings::LoginPassword), QString());
        Settings::sync(*settings);
    }

    close();
    if (trayIcon) {
        trayIcon->hide();
        delete trayIcon.data();
    }

    // Nothing of this login acts any more: engine events wait for the next
    // window (until then they are dropped), the timers stop.
    if (mainWindow() == this)
        setMainWindow(nullptr);
    for (QTimer *timer : findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly))
        timer->stop();

    // This slot runs from one of the window's own actions, possibly inside a
    // wait of its own (the update check, a message box): the window goes
    // once control is back in the event loop, and the next window is built
    // only after this one is gone, so its destructor has withdrawn the old
    // registration before the new login registers.
    connect(this, &QObject::destroyed, qApp, &openNewMainWindow, Qt::QueuedConnection);
    deleteLater();
}
