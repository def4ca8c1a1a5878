#pragma once

#include <QHash>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>

#include "telephony/telephony.h"

namespace Ui {
class TMainWindow;
}

class QLabel;
class QTimer;
class QTreeWidgetItem;
class TAccount;
class TContactTree;
class TMainWindow;
class TTextDialog;

// The current main window, the receiver of the posted application events,
// or null while none exists (during a logout). GUI thread only.
TMainWindow *mainWindow();
void setMainWindow(TMainWindow *window);

// The program's one main window: it owns everything that belongs to one login
// and turns the user's actions and the application events into work for the
// other parts of the program.
// Ends the call and the registration of whichever main window exists, and
// the engine with them, when the application quits; events of the engine
// are dropped from then on. Installed once, by the program's entry point.
void endTelephonyAtQuit();

// A number from outside the window: a tel: or callto: link, or the number a
// start of the program was given. It waits for a main window that is logged
// in and registered, and replaces any number still waiting.
void dialFromOutside(const QString &link);

// Shows what the program shows the user now (the login dialog, or the main
// window, also from the tray) in front of the other windows.
void bringProgramToFront();

class TMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit TMainWindow(QWidget *parent = nullptr);
    ~TMainWindow() override;

    // Hangs up a call in progress and withdraws the registration; the
    // program ends or this login ends.
    void endTelephony();

    // Dials the number from outside once this window can: it is logged in,
    // registered and not in a call. A number that cannot be dialled is
    // refused at once, in the status bar.
    void dialWaitingNumber();

public slots:
    void call(QString number);
    void hangUp();
    void onGoBack();
    void onText(QString countryCode, QString number, QString text);
    void checkForUpdate();
    void saveWindowPosition();
    void restoreWindowPosition();
    void on_pbRates_clicked();
    void on_actionLogout_triggered();
    void on_actionExit_triggered();

signals:
    void phoneStatus(int code);
    // The engine's input and output levels in dB (a meter's reading).
    void audioLevels(float input, float output);

protected:
    void customEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private slots:
    void on_twContacts_currentItemChanged(QTreeWidgetItem *current, QTreeWidgetItem *previous);
    void on_twContacts_itemSelectionChanged();
    void on_twContacts_itemChanged(QTreeWidgetItem *item, int column);
    void on_pbCreditAmount_clicked();
    void on_pbText_clicked();
    void on_pbAddContact_clicked();
    void on_pbSettings_clicked();
    void on_pbHangUp_clicked();
    void on_pbCall_clicked();
    void onPhoneStatus(int code);
    void onCreditUpdated(QString amount);
    void onCreditTimerTimeout();
    void onCallHistoryTimer();
    void on_actionAdd_50_triggered();
    void on_actionAdd_20_triggered();
    void on_actionAdd_10_triggered();
    void on_pbGoToZimbrel_clicked();
    void onTrayIconActivated(QSystemTrayIcon::ActivationReason reason);

private:
    // The window's widgets and their ties to the account.
    void buildWindow();
    // What follows a successful login: registration, timers, menus, tray.
    void startSession();
    void setUpCreditMenu();
    void setUpTray();
    // The billing page for adding amount dollars, in the billing window.
    void openBillingPage(int amount);
    // A public page of the service asked for by the login dialog.
    void openLoginPage(const QString &path);

    // Telephony: the engine is set up before the login, registration after it.
    void initTelephony();
    void registerPhone(TAccount *client);
    void showRegistrationReply(const TRegistrationEvent &event);

    Ui::TMainWindow *ui;
    PhoneState phoneState;
    QLabel *registrationStatus = nullptr;
    QPointer<TAccount> account;
    // Shows the account's phonebook in twContacts; owned by the tree.
    TContactTree *contactTree = nullptr;
    QTimer *creditTimer = nullptr;
    QTimer *callHistoryTimer = nullptr;
    // Asks for the placed calls once more a little after a hang-up: the
    // service may answer the first request before it has closed the call's
    // record, and would then show the call with its duration still running.
    QTimer *historyAfterCall = nullptr;
    QMenu creditMenu;
    QPointer<TTextDialog> textDialog;
    // Children of the window, so they go with it at logout.
    QPointer<QSystemTrayIcon> trayIcon;
    QPointer<QMenu> trayMenu;
    // Set once a logout has begun: this window is on its way out.
    bool loggingOut = false;
    // A call was placed and not yet hung up.
    bool callInProgress = false;
    // The server has accepted this window's registration.
    bool registered = false;
};
