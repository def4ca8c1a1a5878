#include "app/singleinstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// A request is one line of at most this many bytes; the answer is "ok".
constexpr qsizetype MaxRequest = 4096;
constexpr char Answer[] = "ok\n";
// A start that finds the lock taken gives up after this long.
constexpr int HandOverMs = 900;
// A connection that has not sent its line by then is dropped.
constexpr int RequestMs = 2000;

QString fileSafe(QString text)
{
    for (QChar &c : text) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.') || c == QLatin1Char('-');
        if (!plain)
            c = QLatin1Char('_');
    }
    return text;
}

QString userName()
{
    if (const passwd *entry = getpwuid(getuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(getuid());
}

QString displayName()
{
    // Wayland first: a Wayland session may offer an X display as well.
    for (const char *variable : {"WAYLAND_DISPLAY", "DISPLAY"}) {
        const QString display = qEnvironmentVariable(variable);
        if (!display.isEmpty())
            return display;
    }
    return QGuiApplication::platformName();
}

QString runtimeFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

} // namespace

SingleInstance::SingleInstance(QObject *parent)
    : QObject(parent)
{
}

SingleInstance::~SingleInstance()
{
    if (server)
        server->close();
    if (lockFd >= 0)
        ::close(lockFd);
}

QString SingleInstance::name()
{
    return fileSafe(QLatin1String("ondavox-") + userName() + QLatin1Char('-') + displayName());
}

QString SingleInstance::socketPath()
{
    return runtimeFolder() + QLatin1Char('/') + name() + QLatin1String(".socket");
}

SingleInstance::Role SingleInstance::start(const QString &link)
{
    // The kernel releases the lock with the process that holds it, however
    // that process ends: a crashed program never keeps the next one out.
    const QByteArray lockFile = QFile::encodeName(runtimeFolder() + QLatin1Char('/') + name() + QLatin1String(".lock"));
    lockFd = ::open(lockFile.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd >= 0 && ::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd);
        lockFd = -1;
        return handOver(link);
    }
    if (lockFd < 0)
        qWarning("Cannot open %s: later starts will not find this program", lockFile.constData());

    // A socket still there was left by a program that crashed.
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath());
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    if (!server->listen(socketPath()))
        qWarning("Cannot listen on %s: %s", qPrintable(socketPath()), qPrintable(server->errorString()));
    return First;
}

SingleInstance::Role SingleInstance::handOver(const QString &link)
{
    QByteArray request = link.toUtf8();
    request.replace('\n', ' ');
    request.truncate(MaxRequest - 1);
    request += '\n';

    // The running program may have taken the lock a moment ago and not be
    // listening yet.
    const QDeadlineTimer deadline(HandOverMs);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        socket.abort();
        if (deadline.hasExpired())
            return Unreachable;
        QThread::msleep(20);
    }
    if (socket.write(request) != request.size() || !socket.waitForBytesWritten(int(deadline.remainingTime())))
        return Unreachable;
    // Once written, the request waits in the socket for a program that is
    // busy right now; its answer only says that it has read it already.
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    if (answer != Answer)
        qWarning("The running Ondavox has not answered yet; it takes the number when it can.");
    return HandedOver;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        // A start that connects and then says nothing is not waited for.
        QTimer::singleShot(RequestMs, socket, [socket] { socket->abort(); });
    }
}

void SingleInstance::readRequest(QLocalSocket *socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() >= MaxRequest)
            socket->abort();
        return;
    }
    QByteArray line = socket->readLine(MaxRequest);
    line.chop(1);
    // One request per connection.
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    socket->write(Answer);
    socket->flush();
    socket->disconnectFromServer();
    emit linkReceived(QString::fromUtf8(line));
}
