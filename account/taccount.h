#pragma once

#include "base/tcontact.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class ServiceReply;

// One placed call as the call-history download lists it.
struct TCallRecord
{
    QString name;
    QString wholeNumber;
    // "MM/dd/yyyy hh:mm:ss Duration: ..." as the history shows it.
    QString details;
};

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

    // How long each request may take, in milliseconds.
    void setRequestTimeout(int milliseconds) { timeoutMs_ = milliseconds; }

    void setEmail(const QString &email) { email_ = email; }
    void setPassword(const QString &password) { password_ = password; }

    // The phonebook of the last download, in the service's order; the
    // contact tree shows it and the contact editor lists its groups.
    const QList<TContactGroup> &groups() const { return groups_; }
    // The manager that contact photos are fetched through: apart from the
    // others, so that thousands of photos never hold up a request the user
    // waits for.
    QNetworkAccessManager *photoManager() const { return pictureManager; }

    void login();
    void sendTextMessage(const QString &countryCode, const QString &number, const QString &text);
    // Add, edit and delete wait for the service's answer in a local event
    // loop, then download the phonebook again when the change was stored.
    void addNewContact(const TContact &contact);
    void updateContact(const TContact &contact);

signals:
    // The service answered the login: true with the account's credentials,
    // false when it refused the e-mail and password.
    void loginResult(bool success);
    // The login could not be completed (no connection, an error status, an
    // unreadable answer); message says why in a sentence for the user.
    void loginError(const QString &message);
    void creditUpdated(QString amount);
    // A phonebook download replaced groups().
    void phonebookChanged();
    // A call-history download, in the service's order; not sent when the
    // download failed, so the calls shown stay.
    void callHistoryChanged(const QList<TCallRecord> &calls);
    // A change of the phonebook or a text message did not go through;
    // message says why (it may hold the service's own words).
    void requestFailed(const QString &message);
    void textMessageSent();

public slots:
    void loadContacts();
    void getCreditBallance();
    void getCallHistory();
    void onDeleteContact(int ContactID);

private slots:
    void onLoginAccessManagerFinished(QNetworkReply *reply);
    void onContactsAccessManagerFinished(QNetworkReply *reply);
    void onTextAccessManagerFinished(QNetworkReply *reply);
    int onAddContactAccessManagerFinished(QNetworkReply *reply);
    void onCreditAccessManagerFinished(QNetworkReply *reply);
    void onCallHistoryAccessManagerFinished(QNetworkReply *reply);

private:
    // Sends the reply, once finished, to one of this object's handlers.
    void handle(QNetworkReply *reply, void (TAccount::*handler)(QNetworkReply *));
    // Posts a form and waits in a local event loop until the answer is
    // complete (or the transfer times out). Returns the finished reply, or
    // null when this account or the reply was destroyed meanwhile (a
    // logout), in which case the caller must touch nothing of this object.
    QNetworkReply *postAndWait(const QString &path, const QByteArray &body);
    // Reads the answer to an edit or delete: the phonebook is downloaded
    // again when the change was stored, the service's error shown if not.
    void finishChange(QNetworkReply *reply);
    // Reports a change or text message that did not go through: the
    // service's own text, or why no answer could be read.
    void reportFailure(const ServiceReply &reply);
    static QString transportFailureText(const ServiceReply &reply);

    QString server_;
    QString email_;
    QString username_;
    QString password_;
    QString key_;
    int timeoutMs_;
    QList<TContactGroup> groups_;
    QNetworkAccessManager *creditManager;
    // The balance request on its way, if any: at most one at a time.
    QPointer<QNetworkReply> creditReply;
    QNetworkAccessManager *network;
    QNetworkAccessManager *pictureManager;
};
