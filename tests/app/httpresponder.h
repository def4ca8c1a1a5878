#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

// A tiny HTTP server on loopback for tests: answers each path with a reply
// the test chooses, byte for byte, and records every request it receives.
class HttpResponder : public QObject
{
    Q_OBJECT

public:
    struct Reply {
        int status = 200;
        QByteArray body;
        int delayMs = 0;
        bool drop = false; // close the connection without answering
        int trickleMs = 0; // send the body one byte at a time, this far apart
    };

    struct Request {
        QByteArray method;
        QByteArray target; // path and query, as sent
        QByteArray body;
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray path() const { return target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?')); }
        QByteArray query() const { return target.indexOf('?') < 0 ? QByteArray() : target.mid(target.indexOf('?') + 1); }
    };

    explicit HttpResponder(QObject *parent = nullptr);

    // The base address to hand to the program, e.g. http://127.0.0.1:PORT
    QString baseUrl() const;

    void setReply(const QByteArray &path, const Reply &reply) { replies.insert(path, reply); }
    void setReply(const QByteArray &path, const QByteArray &body) { replies.insert(path, Reply{200, body, 0, false}); }

    const QList<Request> &requests() const { return received; }
    QList<Request> requestsFor(const QByteArray &path) const;
    // Waits in the event loop until a request for path arrived.
    bool waitForRequest(const QByteArray &path, int timeoutMs = 5000);

signals:
    void requestReceived(const QByteArray &path);

private:
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);

    QTcpServer *server;
    QHash<QByteArray, Reply> replies;
    QList<Request> received;
    QHash<QTcpSocket *, QByteArray> buffers;
};
