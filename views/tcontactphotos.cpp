#include "views/tcontactphotos.h"

#include "account/servicerequest.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>
#include <QThreadPool>

namespace {

// Requests on the wire at once: as many as one host's connections, so a
// request starts as soon as it is sent.
constexpr int MaxSent = 6;
// A contact photo is a small picture; anything far larger is not one and is
// not worth the memory.
constexpr qint64 MaxPhotoBytes = 2 * 1024 * 1024;
// The largest a photo is shown (an expanded contact's picture); a larger
// one is kept only at this size.
constexpr int ShownSide = 50;
// A format that cannot be decoded at a smaller size is decoded whole first:
// only up to this many pixels.
constexpr qint64 MaxWholePixels = 2048 * 2048;

// The picture in bytes, at most ShownSide a side, with its proportions. Its
// size is read from its header first, so that a small file announcing an
// enormous picture is never decoded at that size.
QImage shownPhoto(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isEmpty())
        return QImage();
    if (size.width() > ShownSide || size.height() > ShownSide) {
        if (!reader.supportsOption(QImageIOHandler::ScaledSize) && qint64(size.width()) * size.height() > MaxWholePixels)
            return QImage();
        reader.setScaledSize(size.scaled(ShownSide, ShownSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    }
    QImage image;
    if (!reader.read(&image))
        return QImage();
    return image;
}

} // namespace

// Photos are decoded off the GUI thread, one at a time: a picture of
// thousands of pixels a side takes a second or two to read even when only
// a thumbnail of it is kept, and the window must not stand still meanwhile.
QThreadPool &TContactPhotos::decoders()
{
    static QThreadPool pool;
    static const bool ready = [] {
        pool.setMaxThreadCount(1);
        pool.setThreadPriority(QThread::LowPriority);
        return true;
    }();
    (void)ready;
    return pool;
}

TContactPhotos::TContactPhotos(QObject *parent)
    : QObject(parent)
    , inbox(std::make_shared<Inbox>())
{
    inbox->receiver = this;
}

TContactPhotos::~TContactPhotos()
{
    {
        QMutexLocker lock(&inbox->mutex);
        inbox->receiver = nullptr;
    }
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
    const auto known = photos.find(contact.contactID);
    if (known != photos.end()) {
        if (known->stale) {
            // The service may have a new one: asked once after each
            // phonebook download, when the row is shown again.
            known->stale = false;
            waiting.append(contact.contactID);
            sendWaiting();
        }
        return known->picture;
    }
    photos.insert(contact.contactID, Photo{fingerprintOf(contact), QPixmap(), {}, false, false});
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
        else if (!waiting.contains(id) && !sent.contains(id) && !decoding.contains(id))
            photos[id].stale = true;
    }
}

void TContactPhotos::drop(int contactID)
{
    photos.remove(contactID);
    waiting.removeAll(contactID);
    decoding.remove(contactID);
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
        QNetworkRequest request = ServiceRequest::formRequest(url, timeout_);
        // What is shown already need not come again.
        const QByteArray tag = photos.value(id).tag;
        if (!tag.isEmpty())
            request.setRawHeader("If-None-Match", tag);
        QNetworkReply *reply = ServiceRequest::limited(
            manager_->post(request, FormFields().add(QStringLiteral("login"), login_).toQuery()), MaxPhotoBytes);
        sent.insert(id, reply);
        connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        connect(reply, &QNetworkReply::finished, this, [this, id, reply] { finished(id, reply); });
    }
}

void TContactPhotos::finished(int contactID, QNetworkReply *reply)
{
    if (sent.value(contactID).data() != reply)
        return;
    sent.remove(contactID);
    const auto photo = photos.find(contactID);
    const bool answered = reply->error() == QNetworkReply::NoError;
    const bool unchanged = answered && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 304;
    if (photo != photos.end() && !unchanged) {
        if (answered) {
            const quint64 serial = ++nextSerial;
            decoding.insert(contactID, serial);
            decoders().start([box = inbox, contactID, serial, bytes = reply->readAll(),
                                  tag = reply->rawHeader("ETag")] {
                const QImage image = shownPhoto(bytes);
                QMutexLocker lock(&box->mutex);
                if (TContactPhotos *receiver = box->receiver)
                    QMetaObject::invokeMethod(
                        receiver, [receiver, contactID, serial, image, tag] { receiver->decoded(contactID, serial, image, tag); },
                        Qt::QueuedConnection);
            });
        } else {
            decoded(contactID, 0, QImage(), QByteArray());
        }
    }
    sendWaiting();
}

void TContactPhotos::decoded(int contactID, quint64 serial, const QImage &image, const QByteArray &tag)
{
    if (serial != 0) {
        const auto pending = decoding.constFind(contactID);
        if (pending == decoding.constEnd() || *pending != serial)
            return; // the contact was dropped, or a newer photo is on its way
        decoding.erase(pending);
    }
    const auto photo = photos.find(contactID);
    if (photo == photos.end())
        return;
    if (!image.isNull()) {
        photo->picture = QPixmap::fromImage(image);
        photo->tag = tag;
        emit photoArrived(contactID);
    } else if (photo->picture.isNull()) {
        // Tried again after the next phonebook download; a picture
        // already shown stays until a new one arrives.
        photo->failed = true;
    }
}
