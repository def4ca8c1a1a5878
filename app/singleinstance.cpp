#include "app/singleinstance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
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
    // Without either, the toolkit's platform stands for the display.
    for (const char *variable : {"WAYLAND_DISPLAY", "DISPLAY", "QT_QPA_PLATFORM"}) {
        const QString display = qEnvironmentVariable(variable);
        if (!display.isEmpty())
            return display;
    }
    return QStringLiteral("none");
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
    return First;
}

void SingleInstance::listen()
{
    // A socket still there was left by a program that crashed.
    // It goes with the application object, while the toolkit still runs.
    server = new QLocalServer(QCoreApplication::instance());
    server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath());
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    if (!server->listen(socketPath()))
        qWarning("Cannot listen on %s: %s", qPrintable(socketPath()), qPrintable(server->errorString()));
}

SingleInstance::Role SingleInstance::handOver(const QString &link)
{
    QByteArray request = link.toUtf8();
    request.replace('\n', ' ');
    request.truncate(MaxRequest - 1);
    request += '\n';

    // A plain socket: this runs before the application object exists.
    const QByteArray path = QFile::encodeName(socketPath());
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof(address.sun_path))
        return Unreachable;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));

    // The running program may have taken the lock a moment ago and not be
    // listening yet.
    const QDeadlineTimer deadline(HandOverMs);
    int fd = -1;
    for (;;) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return Unreachable;
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0)
            break;
        ::close(fd);
        if (deadline.hasExpired())
            return Unreachable;
        QThread::msleep(20);
    }
    qsizetype sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return Unreachable;
        }
        sent += n;
    }
    // Once sent, the request waits in the socket for a program that is busy
    // right now; its answer only says that it has read it already.
    QByteArray answer;
    while (!answer.contains('\n') && !deadline.hasExpired()) {
        pollfd readable = {fd, POLLIN, 0};
        if (::poll(&readable, 1, int(deadline.remainingTime())) <= 0)
            break;
        char buffer[16];
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0)
            break;
        answer.append(buffer, n);
    }
    ::close(fd);
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
