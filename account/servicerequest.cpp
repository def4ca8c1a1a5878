#include "account/servicerequest.h"

#include "base/deployment.h"

#include <QNetworkReply>
#include <QTimer>

FormFields &FormFields::add(const QString &key, const QString &value)
{
    fields_.append({encode(key), encode(value)});
    return *this;
}

FormFields &FormFields::add(const QString &key, int value)
{
    return add(key, QString::number(value));
}

QByteArray FormFields::encode(const QString &value)
{
    return value.toLatin1().toPercentEncoding();
}

QByteArray FormFields::toBody() const
{
    QByteArray body;
    for (const auto &field : fields_)
        body += field.first + '=' + field.second + '&';
    return body;
}

QByteArray FormFields::toQuery() const
{
    QByteArray query = toBody();
    query.chop(1);
    return query;
}

namespace ServiceRequest {

namespace {
const char OverLimit[] = "ondavoxOverLimit";
}

QNetworkReply *limited(QNetworkReply *reply, qint64 maxBytes)
{
    // The transfer time-out starts again with every byte that arrives, so a
    // reply that trickles in would never end by it: the whole request ends
    // by the same time from when it is sent.
    const int deadlineMs = reply->request().transferTimeout() > 0 ? reply->request().transferTimeout() : TransferTimeoutMs;
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [reply] {
        if (reply->isRunning())
            reply->abort();
    });
    deadline->start(deadlineMs);

    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply, maxBytes](qint64 received, qint64 total) {
        if ((received > maxBytes || total > maxBytes) && !exceededLimit(reply)) {
            reply->setProperty(OverLimit, true);
            reply->abort();
        }
    });
    return reply;
}

bool exceededLimit(const QNetworkReply *reply)
{
    return reply->property(OverLimit).toBool();
}

QUrl url(const QString &path, const FormFields &query)
{
    QByteArray encoded = Deployment::webBase().toUtf8() + path.toUtf8();
    const QByteArray queryText = query.toQuery();
    if (!queryText.isEmpty())
        encoded += '?' + queryText;
    return QUrl::fromEncoded(encoded);
}

QNetworkRequest request(const QUrl &url, int timeoutMs)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    return request;
}

QNetworkRequest formRequest(const QUrl &url, int timeoutMs)
{
    QNetworkRequest result = request(url, timeoutMs);
    result.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    return result;
}

} // namespace ServiceRequest
