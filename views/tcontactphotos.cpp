#include "views/tcontactphotos.h"

#include "account/servicerequest.h"

#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {

// Requests on the wire at once: as many as one host's connections, so a
// request starts as soon as it is sent.
constexpr int MaxSent = 6;
// A contact photo is a small picture; anything far larger is not one and is
// not worth the memory.
constexpr qint64 MaxPhotoBytes = 2 * 1024 * 1024;

} // namespace

TContactPhotos::TContactPhotos(QObject *parent)
    : QObject(parent)
{
}

TContactPhotos::~TContactPhotos()
{
    for (const QPointer<QNetworkReply> &reply : std::as_const(sent)) {
        if (reply) {
            reply->disconnect(this);
            reply->abort();
        }
    }
}

size_t TContactPhotos::fingerprintOf(const TContact &contact)
{
    size_t seed = qHashMulti(0, contact.groupID, contact.name, contact.title, contact.company);
    for (const TContactPhone &phone : contact.phones)
        seed = qHashMulti(seed, phone.phoneID, phone.countryCode, phone.number, phone.type);
    return seed;
}

QPixmap TContactPhotos::photo(const TContact &contact)
{
    const auto known = photos.constFind(contact.contactID);
    if (known != photos.constEnd())
        return known->picture;
    photos.insert(contact.contactID, Photo{fingerprintOf(contact), QPixmap(), false});
    waiting.append(contact.contactID);
    sendWaiting();
    return QPixmap();
}

void TContactPhotos::keepOnly(const QList<TContactGroup> &phonebook)
{
    QHash<int, size_t> current;
    for (const TContactGroup &group : phonebook)
        for (const TContact &contact : group.contacts)
            current.insert(contact.contactID, fingerprintOf(contact));
    const QList<int> known = photos.keys();
    for (const int id : known) {
        const Photo &photo = photos[id];
        const auto now = current.constFind(id);
        if (now == current.constEnd() || *now != photo.fingerprint || photo.failed)
            drop(id);
    }
}

void TContactPhotos::drop(int contactID)
{
    photos.remove(contactID);
    waiting.removeAll(contactID);
    if (const QPointer<QNetworkReply> reply = sent.take(contactID)) {
        reply->disconnect(this);
        reply->abort();
    }
    sendWaiting();
}

void TContactPhotos::sendWaiting()
{
    if (!manager_)
        return;
    while (sent.size() < MaxSent && !waiting.isEmpty()) {
        const int id = waiting.takeFirst();
        const QUrl url = ServiceRequest::url(QStringLiteral("/Phonebook/GetContactPhoto.html"),
                                             FormFields().add(QStringLiteral("ContactID"), id));
        QNetworkRequest request = ServiceRequest::formRequest(url);
        request.setTransferTimeout(timeout_);
        QNetworkReply *reply = manager_->post(request, FormFields().add(QStringLiteral("login"), login_).toQuery());
        sent.insert(id, reply);
        connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        connect(reply, &QNetworkReply::finished, this, [this, id, reply] { finished(id, reply); });
        connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
            if (received > MaxPhotoBytes)
                reply->abort();
        });
    }
}

void TContactPhotos::finished(int contactID, QNetworkReply *reply)
{
    if (sent.value(contactID).data() != reply)
        return;
    sent.remove(contactID);
    const auto photo = photos.find(contactID);
    if (photo != photos.end()) {
        const QImage image = reply->error() == QNetworkReply::NoError ? QImage::fromData(reply->readAll()) : QImage();
        if (image.isNull()) {
            // Tried again after the next phonebook download.
            photo->failed = true;
        } else {
            photo->picture = QPixmap::fromImage(image);
            emit photoArrived(contactID);
        }
    }
    sendWaiting();
}
