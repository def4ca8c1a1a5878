#include "app/pageswindows.h"

#include "base/pageschannel.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>

namespace {

bool isWeb(const QUrl &url)
{
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

} // namespace

PagesWindows *PagesWindows::instance()
{
    static QPointer<PagesWindows> windows;
    if (!windows)
        windows = new PagesWindows(QCoreApplication::instance());
    return windows;
}

PagesWindows::PagesWindows(QObject *parent)
    : QObject(parent)
{
    connect(qApp, &QCoreApplication::aboutToQuit, this, &PagesWindows::stop);
}

PagesWindows::~PagesWindows()
{
    stop();
}

QString PagesWindows::program()
{
    const QString given = qEnvironmentVariable("ONDAVOX_PAGES_PROGRAM");
    if (!given.isEmpty())
        return given;
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString &candidate : {here.filePath(QStringLiteral("../" ONDAVOX_PRIVATE_LIBDIR "/ondavox-pages")),
                                     here.filePath(QStringLiteral("ondavox-pages"))}) {
        if (QFileInfo(candidate).isExecutable())
            return QDir::cleanPath(candidate);
    }
    return {};
}

bool PagesWindows::start()
{
    if (process)
        return true;
    const QString path = program();
    if (path.isEmpty()) {
        qWarning("ondavox-pages is not installed beside the program; account pages cannot open");
        return false;
    }
    process = new QProcess(this);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(process, &QProcess::readyReadStandardOutput, this, &PagesWindows::readOutput);
    connect(process, &QProcess::finished, this, &PagesWindows::onEnded);
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onEnded();
    });
    process->start(path, {});
    return true;
}

void PagesWindows::open(const QString &kind, const QUrl &url, const std::optional<QByteArray> &body)
{
    if (!start())
        return;
    QJsonObject message{{QStringLiteral("op"), QStringLiteral("open")},
                        {QStringLiteral("window"), kind},
                        {QStringLiteral("url"), url.toString()},
                        {QStringLiteral("service"), url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery).toString()}};
    if (body)
        message.insert(QStringLiteral("post"), QString::fromLatin1(*body));
    send(message);
}

qint64 PagesWindows::processId() const
{
    return process ? process->processId() : 0;
}

void PagesWindows::run(const QString &kind, const QString &script, std::function<void(const QJsonValue &)> done)
{
    if (!process) {
        done(QJsonValue());
        return;
    }
    const int id = nextRun++;
    pendingRuns.insert(id, std::move(done));
    send({{QStringLiteral("op"), QStringLiteral("run")},
          {QStringLiteral("id"), id},
          {QStringLiteral("window"), kind},
          {QStringLiteral("script"), script}});
}

void PagesWindows::close(const QString &kind)
{
    send({{QStringLiteral("op"), QStringLiteral("close")}, {QStringLiteral("window"), kind}});
}

void PagesWindows::send(const QJsonObject &message)
{
    if (process)
        process->write(PagesChannel::encode(message));
}

void PagesWindows::readOutput()
{
    if (!process)
        return;
    buffer.append(process->readAllStandardOutput());
    for (const QJsonObject &message : PagesChannel::take(buffer)) {
        const QString op = message.value(QLatin1String("op")).toString();
        if (op == QLatin1String("state")) {
            const QString kind = message.value(QLatin1String("window")).toString();
            Window &window = shown[kind];
            window.visible = message.value(QLatin1String("visible")).toBool();
            window.maximized = message.value(QLatin1String("maximized")).toBool();
            window.title = message.value(QLatin1String("title")).toString();
            window.pageTitle = message.value(QLatin1String("pageTitle")).toString();
            window.url = QUrl(message.value(QLatin1String("url")).toString());
            window.notice = message.value(QLatin1String("notice")).toString();
            emit windowChanged(kind);
        } else if (op == QLatin1String("browser")) {
            // Only web addresses go to the user's browser, whatever the
            // pages' program asks for.
            const QUrl url(message.value(QLatin1String("url")).toString());
            if (isWeb(url))
                QDesktopServices::openUrl(url);
        } else if (op == QLatin1String("result")) {
            if (auto done = pendingRuns.take(message.value(QLatin1String("id")).toInt()))
                done(message.value(QLatin1String("value")));
        }
    }
}

void PagesWindows::onEnded()
{
    if (!process)
        return;
    process->disconnect(this);
    process->deleteLater();
    process = nullptr;
    buffer.clear();
    shown.clear();
    const auto runs = std::exchange(pendingRuns, {});
    for (const auto &done : runs)
        done(QJsonValue());
    emit ended();
}

void PagesWindows::stop()
{
    if (!process)
        return;
    QProcess *ending = process;
    // A closed line ends the program by itself; it gets a moment for that.
    ending->closeWriteChannel();
    if (!ending->waitForFinished(3000)) {
        ending->kill();
        ending->waitForFinished(3000);
    }
    onEnded();
}
