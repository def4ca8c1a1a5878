#include "app/updatecheck.h"

#include "account/servicereply.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace UpdateCheck {

QUrl Offer::downloadUrl() const
{
    const QUrl url(downloadUrlWin, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty())
        return QUrl();
    return url;
}

Offer fromReply(const ServiceReply &reply)
{
    Offer offer;
    // An error page is not the service's announcement, whatever it holds.
    if (reply.isFalse() || reply.transportFailed() || !reply.isObject())
        return offer;
    offer.version = reply["Version"].toInt32();
    offer.downloadUrlMac = reply["DownloadUrlMac"].toText();
    offer.downloadUrlWin = reply["DownloadUrlWin"].toText();
    return offer;
}

Offer fetch(const QObject *guard, int timeoutMs)
{
    QNetworkAccessManager network;
    QEventLoop loop;
    QObject::connect(&network, &QNetworkAccessManager::finished, &loop, &QEventLoop::quit);
    if (guard)
        QObject::connect(guard, &QObject::destroyed, &loop, &QEventLoop::quit);

    QNetworkRequest request = ServiceRequest::formRequest(ServiceRequest::url(QStringLiteral("/update.php")));
    request.setTransferTimeout(timeoutMs);
    QNetworkReply *reply = network.post(request, QByteArray());
    loop.exec();

    // Left early (the window went, the application is quitting): the answer
    // no longer matters.
    if (!reply->isFinished()) {
        reply->abort();
        return Offer();
    }
    return fromReply(ServiceReply::read(reply));
}

} // namespace UpdateCheck
