#include "account/taccount.h"

#include "account/servicereply.h"
#include "account/servicerequest.h"
#include "app/deployment.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

TAccount::TAccount(QObject *parent)
    : QObject(parent)
    , server_(Deployment::iax2Host())
    , network(new QNetworkAccessManager(this))
{
}

void TAccount::handle(QNetworkReply *reply, void (TAccount::*handler)(QNetworkReply *))
{
    connect(reply, &QNetworkReply::finished, this, [this, reply, handler] {
        reply->deleteLater();
        (this->*handler)(reply);
    });
}

void TAccount::login()
{
    const QUrl url = ServiceRequest::url(QStringLiteral("/Webservices/login.php"),
                                         FormFields().add(QStringLiteral("email"), email_).add(QStringLiteral("password"), password_));
    handle(network->get(ServiceRequest::request(url)), &TAccount::onLoginAccessManagerFinished);
}

void TAccount::onLoginAccessManagerFinished(QNetworkReply *networkReply)
{
    const ServiceReply reply = ServiceReply::read(networkReply);
    if (reply.isFalse()) {
        emit loginResult(false);
        return;
    }
    // Only an answer of the service counts: a failed transfer or a body that
    // is not the service's reply must not pass for a login with empty
    // credentials.
    if (reply.transportFailed()) {
        emit loginError(tr("The Ondavox service cannot be reached: %1. Please check your connection and try again.")
                            .arg(reply.transportError()));
        return;
    }
    if (!reply.isObject()) {
        emit loginError(tr("The Ondavox service sent an answer that cannot be read. Please try again later."));
        return;
    }

    username_ = reply["Username"].toText();
    key_ = reply["Key"].toText();
    password_ = reply["Password"].toText();

    QTimer::singleShot(200, this, &TAccount::loadContacts);
    emit loginResult(true);
}

void TAccount::loadContacts()
{
    const QUrl url = ServiceRequest::url(QStringLiteral("/Webservices/contacts.php"), FormFields().add(QStringLiteral("login"), key_));
    QNetworkReply *reply = network->get(ServiceRequest::request(url));
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}
