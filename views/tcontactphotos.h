#pragma once

#include "base/tcontact.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QList>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QThreadPool>

#include <memory>

// The contacts' photos, fetched when a row asks for one (that is, when it
// is painted, so only for rows in view) and kept across phonebook
// downloads unless the contact changed. After each download a kept photo
// is asked for again when its row is next shown, with the service's tag
// for it, so that an unchanged photo comes back as "not modified" and a
// new one replaces it. A few requests are on the wire at a time, the rest
// wait here; each request's time-out counts from when it is sent, so a
// long queue on a slow link does not use up the later ones' time before
// they start.
class TContactPhotos : public QObject
{
    Q_OBJECT

public:
    explicit TContactPhotos(QObject *parent = nullptr);
    ~TContactPhotos() override;

    void setManager(QNetworkAccessManager *manager) { manager_ = manager; }
    void setLogin(const QString &login) { login_ = login; }
    // How long one photo may take once sent, in milliseconds.
    void setTimeout(int milliseconds) { timeout_ = milliseconds; }

    // The contact's photo, or a null pixmap while there is none; the first
    // call for a contact asks the service for it.
    QPixmap photo(const TContact &contact);
    // After a phonebook download: forgets the photos of contacts that are
    // gone or changed (and stops their requests), gives photos that failed
    // another chance, and has the others asked for again when shown.
    void keepOnly(const QList<TContactGroup> &phonebook);
    // Requests waiting or on the wire, and photos being decoded.
    int pending() const { return int(waiting.size()) + int(sent.size()) + int(decoding.size()); }
    // The one low-priority thread every photo is decoded on, in turn.
    static QThreadPool &decoders();

signals:
    void photoArrived(int contactID);

private:
    struct Photo {
        size_t fingerprint = 0;
        QPixmap picture;
        QByteArray tag; // the service's entity tag for the picture
        bool failed = false;
        bool stale = false; // to be asked for again when next shown
    };

    // Where decoded photos come back to from the decoding thread; the
    // receiver is cleared, under the lock, when this object goes.
    struct Inbox {
        QMutex mutex;
        TContactPhotos *receiver = nullptr;
    };

    static size_t fingerprintOf(const TContact &contact);
    void sendWaiting();
    void finished(int contactID, QNetworkReply *reply);
    void decoded(int contactID, quint64 serial, const QImage &image, const QByteArray &tag);
    void drop(int contactID);

    QPointer<QNetworkAccessManager> manager_;
    QString login_;
    int timeout_ = 20000;
    QHash<int, Photo> photos;
    QList<int> waiting;
    // Guarded: the manager may go first (a logout), taking its replies.
    QHash<int, QPointer<QNetworkReply>> sent;
    // Photos off the wire being decoded, by the serial of their decoding: a
    // result for a contact since dropped, or overtaken, is not taken.
    QHash<int, quint64> decoding;
    quint64 nextSerial = 0;
    std::shared_ptr<Inbox> inbox;
};
