#include "app/systemquit.h"

#include "app/tmainwindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The signal handler's only way out: one byte into a socket that the event
// loop watches. Nothing else is safe inside a handler.
int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signalNumber);
    // A full socket means an exit is already on its way.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

// What Exit does, from the current window; between a logout and the next
// login there is none, and the application simply ends.
void exitAsExitDoes()
{
    if (TMainWindow *window = mainWindow()) {
        if (auto *exit = window->findChild<QAction *>(QStringLiteral("actionExit"))) {
            exit->trigger();
            return;
        }
    }
    QCoreApplication::exit(0);
}

} // namespace

void exitOnSystemRequests()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        qWarning("no socket for the termination signals: %s", strerror(errno));
        return;
    }
    ::fcntl(signalPipe[1], F_SETFL, ::fcntl(signalPipe[1], F_GETFL) | O_NONBLOCK);
    ::fcntl(signalPipe[0], F_SETFL, ::fcntl(signalPipe[0], F_GETFL) | O_NONBLOCK);

    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char bytes[16];
        ssize_t got = 0;
        int signalNumber = 0;
        while ((got = ::read(signalPipe[0], bytes, sizeof bytes)) > 0)
            signalNumber = bytes[got - 1];
        qDebug("signal %d: exiting", signalNumber);
        exitAsExitDoes();
    });

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);

    // The session is ending: whatever the session manager does next (it
    // may end the process without waiting), the call and the registration
    // must go now. Closing the windows, the default, would only send the
    // main window to the tray.
    if (auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        QObject::connect(gui, &QGuiApplication::commitDataRequest, gui, [](QSessionManager &) {
            qDebug("session ending: exiting");
            exitAsExitDoes();
        });
    }
}
