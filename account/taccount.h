#pragma once

#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// The program's client of the Ondavox web service and the holder of the
// account's state: the e-mail and password typed at login, and the IAX2 user
// name, IAX2 password and login key that the login returns.
class TAccount : public QObject
{
    Q_OBJECT

public:
    explicit TAccount(QObject *parent = nullptr);

    QString server() const { return server_; }
    QString email() const { return email_; }
    QString username() const { return username_; }
    QString password() const { return password_; }
    QString key() const { return key_; }

    void setEmail(const QString &email) { email_ = email; }
    void setPassword(const QString &password) { password_ = password; }

    void login();

signals:
    // The service answered the login: true with the account's credentials,
    // false when it refused the e-mail and password.
    void loginResult(bool success);
    // The login could not be completed (no connection, an error status, an
    // unreadable answer); message says why in a sentence for the user.
    void loginError(const QString &message);

public slots:
    void loadContacts();

private slots:
    void onLoginAccessManagerFinished(QNetworkReply *reply);

private:
    // Sends the reply, once finished, to one of this object's handlers.
    void handle(QNetworkReply *reply, void (TAccount::*handler)(QNetworkReply *));

    QString server_;
    QString email_;
    QString username_;
    QString password_;
    QString key_;
    QNetworkAccessManager *network;
};
