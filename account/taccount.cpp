#include "account/taccount.h"

#include "account/servicereply.h"
#include "account/servicerequest.h"
#include "base/deployment.h"

#include <QDate>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTime>
#include <QTimer>

namespace {

// Reply "id" values are texts (or numbers) that must read as a base-10
// integer; anything else is 0.
int decimalId(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

// The service's "yyyy-MM-dd hh:mm:ss" as "MM/dd/yyyy hh:mm:ss", the same
// wall-clock time (date and time are read apart, so no time zone or summer
// time rule can move it); empty when the text is not in that form.
QString historyStartTime(const QString &text)
{
    if (text.size() != 19 || text.at(10) != QLatin1Char(' '))
        return QString();
    const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(text.mid(11), QStringLiteral("hh:mm:ss"));
    if (!date.isValid() || !time.isValid())
        return QString();
    return date.toString(QStringLiteral("MM/dd/yyyy")) + QLatin1Char(' ') + time.toString(QStringLiteral("hh:mm:ss"));
}

} // namespace

TAccount::TAccount(QObject *parent)
    : QObject(parent)
    , server_(Deployment::iax2Host())
    , timeoutMs_(ServiceRequest::TransferTimeoutMs)
    , creditManager(new QNetworkAccessManager(this))
    , network(new QNetworkAccessManager(this))
    , pictureManager(new QNetworkAccessManager(this))
{
    connect(creditManager, &QNetworkAccessManager::finished, this, &TAccount::onCreditAccessManagerFinished);
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
    handle(ServiceRequest::limited(network->get(ServiceRequest::request(url, timeoutMs_)), ServiceRequest::SmallReplyMaxBytes),
           &TAccount::onLoginAccessManagerFinished);
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
        emit loginError(transportFailureText(reply));
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

QString TAccount::transportFailureText(const ServiceReply &reply)
{
    return tr("The Ondavox service cannot be reached: %1. Please check your connection and try again.")
        .arg(reply.transportError());
}

void TAccount::reportFailure(const ServiceReply &reply)
{
    QString text;
    if (reply.transportFailed())
        text = transportFailureText(reply);
    else if (!reply.isObject())
        text = tr("The Ondavox service sent an answer that cannot be read. Please try again later.");
    else
        text = reply["Error"].toText();
    emit requestFailed(text);
}

void TAccount::loadContacts()
{
    const QUrl url = ServiceRequest::url(QStringLiteral("/Webservices/contacts.php"), FormFields().add(QStringLiteral("login"), key_));
    handle(ServiceRequest::limited(network->get(ServiceRequest::request(url, timeoutMs_)), ServiceRequest::ListReplyMaxBytes),
           &TAccount::onContactsAccessManagerFinished);
}

void TAccount::onContactsAccessManagerFinished(QNetworkReply *networkReply)
{
    const ServiceReply reply = ServiceReply::read(networkReply);
    if (reply.isFalse())
        return;
    // A failed transfer says nothing about the phonebook: keep what is shown.
    if (reply.transportFailed() || reply.tooLarge())
        return;

    QList<TContactGroup> phonebook;
    const auto groupList = reply["result"].elements();
    for (const ReplyValue &groupValue : groupList) {
        TContactGroup group;
        group.groupID = groupValue["id"].toText();
        group.groupName = groupValue["name"].toText();
        if (group.groupName.isEmpty())
            continue;
        const auto contacts = groupValue["contacts"].elements();
        for (const ReplyValue &contactValue : contacts) {
            TContact contact;
            contact.name = contactValue["name"].toText();
            if (contact.name.isEmpty())
                continue;
            contact.contactID = decimalId(contactValue["id"].toText());
            contact.title = contactValue["title"].toText();
            contact.company = contactValue["company"].toText();
            contact.groupID = group.groupID;
            const auto phones = contactValue["phones"].elements();
            for (const ReplyValue &phoneValue : phones) {
                TContactPhone phone;
                phone.wholePhone = phoneValue["wholePhone"].toText();
                if (phone.wholePhone.isEmpty())
                    continue;
                phone.phoneID = decimalId(phoneValue["id"].toText());
                phone.countryCode = phoneValue["countryCode"].toText();
                phone.number = phoneValue["phone"].toText();
                phone.type = phoneValue["type"].toText();
                contact.phones.append(phone);
            }
            group.contacts.append(contact);
        }
        phonebook.append(group);
    }
    groups_ = phonebook;
    emit phonebookChanged();
}

QNetworkReply *TAccount::postAndWait(const QString &path, const QByteArray &body)
{
    const QPointer<TAccount> self(this);
    const QPointer<QNetworkReply> reply = ServiceRequest::limited(
        network->post(ServiceRequest::formRequest(ServiceRequest::url(path), timeoutMs_), body), ServiceRequest::SmallReplyMaxBytes);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connect(reply, &QObject::destroyed, &loop, &QEventLoop::quit);
    // The request's transfer time-out ends the wait if the service never
    // answers; a quitting application ends it too.
    loop.exec();
    if (!self || !reply)
        return nullptr;
    if (!reply->isFinished()) {
        reply->abort();
        reply->deleteLater();
        return nullptr;
    }
    return reply;
}

void TAccount::addNewContact(const TContact &contact)
{
    FormFields form;
    form.add(QStringLiteral("login"), key_)
        .add(QStringLiteral("GroupID"), contact.groupID)
        .add(QStringLiteral("Name"), contact.name)
        .add(QStringLiteral("Title"), contact.title)
        .add(QStringLiteral("Company"), contact.company);
    for (int i = 0; i < contact.phones.size(); ++i) {
        const TContactPhone &phone = contact.phones.at(i);
        const QString suffix = QString::number(i);
        form.add(QStringLiteral("AddContactCountryCode_") + suffix, phone.countryCode)
            .add(QStringLiteral("Phone_") + suffix, phone.number)
            .add(QStringLiteral("PhoneType_") + suffix, phone.type);
    }

    const QPointer<TAccount> self(this);
    QNetworkReply *reply = postAndWait(QStringLiteral("/Phonebook/AddContactAPI.html"), form.toBody());
    if (!reply)
        return;
    reply->deleteLater();
    onAddContactAccessManagerFinished(reply);
    if (self)
        loadContacts();
}

int TAccount::onAddContactAccessManagerFinished(QNetworkReply *networkReply)
{
    const ServiceReply reply = ServiceReply::read(networkReply);
    if (reply.isFalse())
        return 0;
    if (!reply.isObject() || !reply["Success"].toBoolean()) {
        reportFailure(reply);
        return 0;
    }
    return reply["ContactID"].toInt32();
}

void TAccount::updateContact(const TContact &contact)
{
    FormFields form;
    form.add(QStringLiteral("login"), key_)
        .add(QStringLiteral("GroupID"), contact.groupID)
        .add(QStringLiteral("Name"), contact.name)
        .add(QStringLiteral("Title"), contact.title)
        .add(QStringLiteral("Company"), contact.company)
        .add(QStringLiteral("ContactID"), contact.contactID);
    for (int i = 0; i < contact.phones.size(); ++i) {
        const TContactPhone &phone = contact.phones.at(i);
        const QString suffix = QString::number(phone.phoneID) + QLatin1Char('_') + QString::number(i);
        form.add(QStringLiteral("AddContactCountryCode_") + suffix, phone.countryCode)
            .add(QStringLiteral("Phone_") + suffix, phone.number)
            .add(QStringLiteral("PhoneType_") + suffix, phone.type);
    }
    if (QNetworkReply *reply = postAndWait(QStringLiteral("/Phonebook/EditContactAPI.html"), form.toBody()))
        finishChange(reply);
}

void TAccount::onDeleteContact(int ContactID)
{
    const QByteArray body = FormFields().add(QStringLiteral("login"), key_).add(QStringLiteral("ContactID"), ContactID).toBody();
    if (QNetworkReply *reply = postAndWait(QStringLiteral("/Phonebook/DeleteContact.html"), body))
        finishChange(reply);
}

void TAccount::finishChange(QNetworkReply *networkReply)
{
    networkReply->deleteLater();
    const ServiceReply reply = ServiceReply::read(networkReply);
    if (reply.isFalse())
        return;
    if (reply.isObject() && reply["Success"].toBoolean())
        loadContacts();
    else
        reportFailure(reply);
}

void TAccount::getCallHistory()
{
    const QUrl url = ServiceRequest::url(QStringLiteral("/History/PlacedCallsDataAPI.html"));
    handle(ServiceRequest::limited(network->post(ServiceRequest::formRequest(url, timeoutMs_),
                                                 FormFields().add(QStringLiteral("login"), key_).toBody()),
                                   ServiceRequest::ListReplyMaxBytes),
           &TAccount::onCallHistoryAccessManagerFinished);
}

void TAccount::onCallHistoryAccessManagerFinished(QNetworkReply *networkReply)
{
    const ServiceReply reply = ServiceReply::read(networkReply);
    // A failed transfer says nothing about the calls: keep what is shown.
    if (reply.transportFailed() || reply.tooLarge())
        return;
    QList<TCallRecord> records;
    const auto calls = reply["result"].elements();
    for (const ReplyValue &call : calls) {
        const QString wholeNumber = call["WholeNumber"].toText();
        if (wholeNumber.trimmed().isEmpty())
            continue;
        records.append({call["Name"].toText(), wholeNumber,
                        historyStartTime(call["starttime"].toText()) + QStringLiteral(" Duration: ")
                            + call["Duration"].toText()});
    }
    emit callHistoryChanged(records);
}

void TAccount::getCreditBallance()
{
    // Asked every second: a slow service must not pile up requests.
    if (creditReply)
        return;
    const QUrl url = ServiceRequest::url(QStringLiteral("/Credit/GetCredit.html"));
    creditReply = ServiceRequest::limited(
        creditManager->post(ServiceRequest::formRequest(url, timeoutMs_), FormFields().add(QStringLiteral("login"), key_).toBody()),
        ServiceRequest::SmallReplyMaxBytes);
}

void TAccount::onCreditAccessManagerFinished(QNetworkReply *networkReply)
{
    networkReply->deleteLater();
    if (networkReply == creditReply)
        creditReply = nullptr;
    const ServiceReply reply = ServiceReply::read(networkReply);
    // A failed transfer says nothing about the balance: keep the last one
    // shown rather than blanking it.
    if (reply.transportFailed() || reply.tooLarge())
        return;
    emit creditUpdated(reply["Credit"].toText());
}

void TAccount::sendTextMessage(const QString &countryCode, const QString &number, const QString &text)
{
    const QByteArray body = FormFields()
                                .add(QStringLiteral("login"), key_)
                                .add(QStringLiteral("TextCountryCode"), countryCode)
                                .add(QStringLiteral("TextPhone"), number)
                                .add(QStringLiteral("SMSText"), text)
                                .toQuery();
    const QUrl url = ServiceRequest::url(QStringLiteral("/Phonebook/Text.html"));
    handle(ServiceRequest::limited(network->post(ServiceRequest::formRequest(url, timeoutMs_), body), ServiceRequest::SmallReplyMaxBytes),
           &TAccount::onTextAccessManagerFinished);
}

void TAccount::onTextAccessManagerFinished(QNetworkReply *networkReply)
{
    const ServiceReply reply = ServiceReply::read(networkReply);
    if (reply.isFalse())
        return;
    if (reply.isObject() && reply["Success"].toBoolean())
        emit textMessageSent();
    else
        reportFailure(reply);
}
