#include "pages/pageshost.h"

#include "base/pageschannel.h"
#include "pages/navigation.h"
#include "pages/pagewindow.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QSocketNotifier>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <cerrno>
#include <unistd.h>

namespace {

// The phone opens a handful of kinds; more means it is confused.
constexpr int kMaxWindows = 8;

} // namespace

PagesHost::PagesHost(QObject *parent)
    : QObject(parent)
    , input(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this))
{
    connect(input, &QSocketNotifier::activated, this, &PagesHost::readInput);
    // Nothing the service's pages offer is saved to disk.
    connect(QWebEngineProfile::defaultProfile(), &QWebEngineProfile::downloadRequested, this,
            [](QWebEngineDownloadRequest *download) { download->cancel(); });
}

PagesHost::~PagesHost()
{
    // Before the browser engine shuts down with the application.
    qDeleteAll(windows);
}

void PagesHost::readInput()
{
    char chunk[65536];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        // The phone is gone: nothing may stay behind it.
        input->setEnabled(false);
        QCoreApplication::quit();
        return;
    }
    buffer.append(chunk, n);
    for (const QJsonObject &message : PagesChannel::take(buffer))
        handle(message);
}

void PagesHost::handle(const QJsonObject &message)
{
    const QString op = message.value(QLatin1String("op")).toString();
    if (op == QLatin1String("open"))
        open(message);
    else if (op == QLatin1String("run"))
        run(message);
    else if (op == QLatin1String("close")) {
        if (PageWindow *window = windows.value(message.value(QLatin1String("window")).toString()))
            window->close();
    }
}

void PagesHost::open(const QJsonObject &message)
{
    const QString kind = message.value(QLatin1String("window")).toString();
    const QUrl service(message.value(QLatin1String("service")).toString());
    const QUrl url(message.value(QLatin1String("url")).toString());
    // Only the service's own pages are opened on request, and only they get
    // the body, which carries the login key.
    if (kind.isEmpty() || !Navigation::sameOrigin(service, url))
        return;
    PageWindow *window = windows.value(kind);
    if (!window) {
        if (windows.size() >= kMaxWindows)
            return;
        window = new PageWindow(service);
        windows.insert(kind, window);
        connect(window, &PageWindow::changed, this, [this, kind] { report(kind); });
        connect(window, &PageWindow::openInBrowser, this, [this](const QUrl &address) {
            send({{QStringLiteral("op"), QStringLiteral("browser")}, {QStringLiteral("url"), address.toString()}});
        });
    }
    const QJsonValue body = message.value(QLatin1String("post"));
    window->load(url, body.isString(), body.toString().toUtf8());
    window->showMaximized();
    // A window already open behind others comes to the front.
    window->raise();
    window->activateWindow();
}

void PagesHost::run(const QJsonObject &message)
{
    const QJsonValue id = message.value(QLatin1String("id"));
    PageWindow *window = windows.value(message.value(QLatin1String("window")).toString());
    if (!window) {
        send({{QStringLiteral("op"), QStringLiteral("result")}, {QStringLiteral("id"), id}});
        return;
    }
    window->view()->page()->runJavaScript(message.value(QLatin1String("script")).toString(),
                                          [this, id](const QVariant &value) {
                                              send({{QStringLiteral("op"), QStringLiteral("result")},
                                                    {QStringLiteral("id"), id},
                                                    {QStringLiteral("value"), QJsonValue::fromVariant(value)}});
                                          });
}

void PagesHost::report(const QString &kind)
{
    PageWindow *window = windows.value(kind);
    if (!window)
        return;
    send({{QStringLiteral("op"), QStringLiteral("state")},
          {QStringLiteral("window"), kind},
          {QStringLiteral("visible"), window->isVisible()},
          {QStringLiteral("maximized"), bool(window->windowState() & Qt::WindowMaximized)},
          {QStringLiteral("title"), window->windowTitle()},
          {QStringLiteral("pageTitle"), window->view()->title()},
          {QStringLiteral("url"), window->view()->url().toString()},
          {QStringLiteral("notice"), window->noticeText()}});
}

void PagesHost::send(const QJsonObject &message)
{
    const QByteArray line = PagesChannel::encode(message);
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, line.constData() + written, size_t(line.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        written += n;
    }
}
