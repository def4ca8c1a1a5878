#include "app/tmainwindow.h"
#include "ui_tmainwindow.h"

#include "account/taccount.h"
#include "account/tlogin.h"
#include "app/tevent.h"

#include <QApplication>
#include <QRegularExpressionValidator>
#include <QTimer>

TMainWindow::TMainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::TMainWindow)
{
    ui->setupUi(this);

    // Nothing can be dialled until the phone is registered.
    ui->wCall->setEnabled(false);

    account = new TAccount;

    // Until the login succeeds, closing the last window ends the program.
    QApplication::setQuitOnLastWindowClosed(true);

    auto *login = new TLogin(account);
    if (login->exec() == QDialog::Accepted) {
        // Only digits, as many as an international number can have.
        ui->leNumber->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9]\\d{0,25}")), ui->leNumber));

        ui->twMainTabs->setCurrentIndex(0);
    } else {
        QTimer::singleShot(200, qApp, &QCoreApplication::quit);
    }
    delete login;
}

TMainWindow::~TMainWindow()
{
    delete ui;
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
    default:
        break;
    }
}
