#include "views/tlogin.h"
#include "ui_tlogin.h"

#include "views/sharppicture.h"
#include "account/taccount.h"
#include "base/settings.h"
#include "views/accountmessages.h"

#include <QCryptographicHash>
#include <QMessageBox>
#include <QPainter>
#include <QSettings>
#include <QTimer>

QByteArray passwordDigest(const QString &password)
{
    return QCryptographicHash::hash(password.toLatin1(), QCryptographicHash::Md5).toHex();
}

TLogin::TLogin(TAccount *account, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::TLogin)
    , account(account)
{
    ui->setupUi(this);
    showSharpPicture(ui->label_3, QStringLiteral(":/Images/Lock.png"));

    // The header: the blue picture under a white title. Painted here rather
    // than by a style sheet, which would cost the first window of every
    // start a good part of its set-up.
    headerPicture = sharpPicture(QStringLiteral(":/Images/Header.png"), devicePixelRatioF());
    ui->widget->setFixedHeight(70);
    ui->widget->installEventFilter(this);
    QFont title = ui->label_4->font();
    title.setPixelSize(18);
    ui->label_4->setFont(title);
    QPalette white = ui->label_4->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    ui->label_4->setPalette(white);

    {
        const auto settings = Settings::open();
        storedPassword = settings->value(QLatin1String(Settings::LoginPassword)).toString();
        // A remembered password is a digest: show nothing for it, not even
        // masking characters that would pretend to its length.
        if (!storedPassword.isEmpty())
            ui->lePassword->setEchoMode(QLineEdit::NoEcho);
        ui->leEmail->setText(settings->value(QLatin1String(Settings::LoginEmail)).toString());
        ui->lePassword->setText(storedPassword);
    }

    setResult(QDialog::Rejected);
    connect(account, &TAccount::loginResult, this, &TLogin::onLoginResult);
    connect(account, &TAccount::loginError, this, &TLogin::onLoginError);

    // A remembered login goes out as soon as the dialog runs; the dialog
    // shows it under way.
    if (!ui->leEmail->text().isEmpty() && !ui->lePassword->text().isEmpty())
        QTimer::singleShot(0, this, &TLogin::on_pbLogin_clicked);
}

TLogin::~TLogin()
{
    delete ui;
}

bool TLogin::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->widget && event->type() == QEvent::Paint) {
        QPainter painter(ui->widget);
        painter.drawPixmap(0, 0, headerPicture);
    }
    return QDialog::eventFilter(watched, event);
}

void TLogin::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        // Re-captioning must not throw away what the user has typed.
        const QString email = ui->leEmail->text();
        const QString password = ui->lePassword->text();
        ui->retranslateUi(this);
        ui->leEmail->setText(email);
        ui->lePassword->setText(password);
    }
}

void TLogin::setWaiting(bool waiting)
{
    ui->pbLogin->setEnabled(!waiting);
    ui->leEmail->setEnabled(!waiting);
    ui->lePassword->setEnabled(!waiting);
}

void TLogin::on_pbLogin_clicked()
{
    if (ui->leEmail->text().trimmed().isEmpty())
        return;
    if (ui->lePassword->text().trimmed().isEmpty())
        return;

    setWaiting(true);
    account->setEmail(ui->leEmail->text());
    account->setPassword(ui->lePassword->text());
    account->login();
}

void TLogin::onLoginResult(bool success)
{
    setWaiting(false);
    if (!success) {
        QMessageBox::critical(this, tr("Error"), tr("You have entered wrong credentials. Please try again."));
        return;
    }

    const auto settings = Settings::open();
    settings->setValue(QLatin1String(Settings::LoginEmail), ui->leEmail->text());
    if (ui->lePassword->text() != storedPassword)
        settings->setValue(QLatin1String(Settings::LoginPassword), passwordDigest(ui->lePassword->text()));
    Settings::sync(*settings);
    accept();
}

void TLogin::onLoginError(const QString &message)
{
    setWaiting(false);
    showErrorBox(this, message);
}

void TLogin::on_pbRegister_clicked()
{
    emit pageRequested(QStringLiteral("/Account/Register.html"));
}

void TLogin::on_pbCheckRates_clicked()
{
    emit pageRequested(QStringLiteral("/Home/Rates.html"));
}
