#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QPair>
#include <QString>
#include <QUrl>

class QNetworkReply;

// Builds every request the program sends to the web service.
//
// Values are converted to Latin-1 (characters outside it become "?") and then
// percent-encoded, so that "&", "=", "+", "#" and "%" in a password, a name or
// a message reach the service as typed.
class FormFields
{
public:
    FormFields &add(const QString &key, const QString &value);
    FormFields &add(const QString &key, int value);

    // key=value pairs, each followed by "&": the form body of most requests.
    QByteArray toBody() const;
    // key=value pairs separated by "&": a query string, or the one form body
    // that carries no final "&".
    QByteArray toQuery() const;

    static QByteArray encode(const QString &value);

private:
    QList<QPair<QByteArray, QByteArray>> fields_;
};

namespace ServiceRequest {

// A request can take this long, from when it is sent to its last byte;
// after that it ends as a transport failure, so nothing waits forever.
constexpr int TransferTimeoutMs = 20000;

// The most a reply may hold, by kind. Only the phonebook and the call
// history grow with the account; every other reply is a few words.
constexpr qint64 ListReplyMaxBytes = 16 * 1024 * 1024;
constexpr qint64 SmallReplyMaxBytes = 64 * 1024;

// Makes reply give up once it announces or delivers more than maxBytes: it
// is aborted unread, and ServiceReply reads it as too large. And makes it
// end, as a time-out, once its request's transfer time-out has passed since
// it was sent, however its bytes arrive. Returns reply.
QNetworkReply *limited(QNetworkReply *reply, qint64 maxBytes);
bool exceededLimit(const QNetworkReply *reply);

// The web base address followed by the path, and the query if one is given.
QUrl url(const QString &path, const FormFields &query = FormFields());

// A request for the service with the program's common settings, given
// timeoutMs to finish.
QNetworkRequest request(const QUrl &url, int timeoutMs = TransferTimeoutMs);

// The same for a POST of a form body.
QNetworkRequest formRequest(const QUrl &url, int timeoutMs = TransferTimeoutMs);

} // namespace ServiceRequest
