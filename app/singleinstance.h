#pragma once

#include <QObject>
#include <QPointer>
#include <QLocalServer>
#include <QString>

class QLocalSocket;

// One program per user and display. The first program to start takes a lock
// in the user's runtime folder and listens on a local socket beside it; a
// later start hands its link (or nothing) to that program and ends.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum Role {
        // This is the one program: it listens for later starts.
        First,
        // Another program runs and has the link.
        HandedOver,
        // Another program holds the lock but cannot be reached.
        Unreachable,
    };

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // The name shared by the lock and the socket: the user's and the
    // display's, so that each desktop session has its own program.
    static QString name();
    // The socket's path in the user's runtime folder.
    static QString socketPath();

    // Becomes the one program, or hands link to the running one. Needs no
    // application object, so that a later start ends before the toolkit
    // has connected to the display; takes at most about a second when
    // another program holds the lock.
    Role start(const QString &link);
    // The one program listens for later starts; needs the application object.
    void listen();

signals:
    // A later start handed this link over; empty when it had none and only
    // asks for the window.
    void linkReceived(const QString &link);

private:
    Role handOver(const QString &link);
    void acceptConnections();
    void readRequest(QLocalSocket *socket);

    int lockFd = -1;
    QPointer<QLocalServer> server;
};
