#include "httpresponder.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

HttpResponder::HttpResponder(QObject *parent)
    : QObject(parent)
    , server(new QTcpServer(this))
{
    server->listen(QHostAddress::LocalHost, 0);
    connect(server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = server->nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QObject::destroyed, this, [this, socket] { buffers.remove(socket); });
        }
    });
}

QString HttpResponder::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(server->serverPort());
}

QList<HttpResponder::Request> HttpResponder::requestsFor(const QByteArray &path) const
{
    QList<Request> result;
    for (const Request &request : received)
        if (request.path() == path)
            result << request;
    return result;
}

bool HttpResponder::waitForRequest(const QByteArray &path, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (requestsFor(path).isEmpty() && timer.elapsed() < timeoutMs)
        QTest::qWait(10);
    return !requestsFor(path).isEmpty();
}

void HttpResponder::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = buffers[socket];
    buffer += socket->readAll();
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;

    Request request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (buffer.size() - headerEnd - 4 < length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    buffer.clear();

    received << request;
    emit requestReceived(request.path());
    answer(socket, request);
}

void HttpResponder::answer(QTcpSocket *socket, const Request &request)
{
    const Reply reply = replies.value(request.path(), Reply{404, QByteArray(), 0, false});
    QPointer<QTcpSocket> guarded(socket);
    auto send = [guarded, reply] {
        if (!guarded)
            return;
        if (reply.drop) {
            guarded->abort();
            return;
        }
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\n";
        head += "Content-Type: text/html; charset=ISO-8859-1\r\n";
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        head += "Connection: close\r\n\r\n";
        if (reply.trickleMs <= 0) {
            guarded->write(head + reply.body);
            guarded->disconnectFromHost();
            return;
        }
        guarded->write(head);
        auto *drip = new QTimer(guarded);
        drip->setProperty("sent", 0);
        QObject::connect(drip, &QTimer::timeout, guarded, [socket = guarded.data(), drip, body = reply.body] {
            const int sent = drip->property("sent").toInt();
            if (sent >= body.size()) {
                drip->stop();
                socket->disconnectFromHost();
                return;
            }
            socket->write(body.mid(sent, 1));
            drip->setProperty("sent", sent + 1);
        });
        drip->start(reply.trickleMs);
    };
    if (reply.delayMs > 0)
        QTimer::singleShot(reply.delayMs, this, send);
    else
        send();
}
