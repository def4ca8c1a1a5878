#include "app/updatecheck.h"

#include "account/servicereply.h"
#include "base/deployment.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace UpdateCheck {

QUrl Offer::downloadUrl() const
{
    const QUrl url(downloadUrlWin, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return QUrl();
    const QString scheme = url.scheme().toLower();
    // Plain http could have been rewritten on its way by anyone in between;
    // it is trusted only as far as the service itself is reached that way.
    if (scheme != QLatin1String("https") && !(scheme == QLatin1String("http") && Deployment::isServiceOrigin(url)))
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
    QNetworkReply *reply = ServiceRequest::limited(network.post(request, QByteArray()), ServiceRequest::SmallReplyMaxBytes);
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
