#pragma once

#include "account/tcontact.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QWidget;
class ServiceReply;
class THistoryList;

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

    // The list that the call-history download fills; it belongs to the
    // main window.
    void setHistoryList(THistoryList *list);
    // The phonebook of the last download, in the service's order; the
    // contact tree shows it and the contact editor lists its groups.
    const QList<TContactGroup> &groups() const { return groups_; }
    // The manager that contact photos are fetched through: apart from the
    // others, so that thousands of photos never hold up a request the user
    // waits for.
    QNetworkAccessManager *photoManager() const { return pictureManager; }

    // The "Error" box. Its text may hold the service's own words, so it is
    // shown as plain text: markup in it is never rendered.
    static void showError(QWidget *parent, const QString &text);

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

public slots:
    void loadContacts();
    void getCreditBallance();
    void getCallHistory();
    // Runs the contact editor on the record and sends the edit when saved.
    void onEditContact(TContact contact);
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
    // Shows the "Error" box for a change or text message that did not go
    // through: the service's own text, or why no answer could be read.
    static void showFailure(const ServiceReply &reply);
    static QString transportFailureText(const ServiceReply &reply);

    QString server_;
    QString email_;
    QString username_;
    QString password_;
    QString key_;
    QPointer<THistoryList> historyList;
    QList<TContactGroup> groups_;
    QNetworkAccessManager *creditManager;
    // The balance request on its way, if any: at most one at a time.
    QPointer<QNetworkReply> creditReply;
    QNetworkAccessManager *network;
    QNetworkAccessManager *pictureManager;
};
