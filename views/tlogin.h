#pragma once

#include <QDialog>
#include <QPixmap>

namespace Ui {
class TLogin;
}

class TAccount;

// The dialog in which the subscriber logs in. It remembers the last successful
// login (the e-mail and a digest of the password) and then logs in by itself.
class TLogin : public QDialog
{
    Q_OBJECT

public:
    explicit TLogin(TAccount *account, QWidget *parent = nullptr);
    ~TLogin() override;

signals:
    // The user asked for one of the service's public pages (registration,
    // rates): path on the service's web base.
    void pageRequested(const QString &path);

protected:
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_pbCheckRates_clicked();
    void on_pbRegister_clicked();
    void on_pbLogin_clicked();
    void onLoginResult(bool success);
    void onLoginError(const QString &message);

private:
    void setWaiting(bool waiting);

    Ui::TLogin *ui;
    QPixmap headerPicture;
    TAccount *account;
    QString storedPassword;
};

// The digest the program stores instead of a password: MD5 of its Latin-1
// bytes, as 32 lower-case hexadecimal digits.
QByteArray passwordDigest(const QString &password);
