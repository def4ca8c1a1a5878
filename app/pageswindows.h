#pragma once

#include <QJsonValue>
#include <QMap>
#include <QObject>
#include <QUrl>

#include <functional>
#include <optional>

class QProcess;

// The windows of the service's pages, shown by the program ondavox-pages,
// which the phone starts when the first page opens: the browser engine and
// its OpenGL driver never load into the phone, and the pages never share a
// process with the IAX2 credentials. Pages reach it over a pipe (the login
// key is never on a command line). One window per kind, reused; if the
// program has died, the next page starts it again.
class PagesWindows : public QObject
{
    Q_OBJECT

public:
    // What ondavox-pages last reported of a window.
    struct Window {
        bool visible = false;
        bool maximized = false;
        QString title;     // the window's title
        QString pageTitle; // the page's own
        QUrl url;
        QString notice;    // the line shown above the page, if any
    };

    // The one set of windows of this process; it ends with the application.
    static PagesWindows *instance();

    // Shows url in the window of kind, maximised and in front, posting body
    // when there is one.
    void open(const QString &kind, const QUrl &url, const std::optional<QByteArray> &body = std::nullopt);

    QMap<QString, Window> windows() const { return shown; }
    // The running ondavox-pages, 0 when none runs.
    qint64 processId() const;

    // Runs script in the page of kind's window; done gets its value (null
    // when there is no such window or the program ended first).
    void run(const QString &kind, const QString &script, std::function<void(const QJsonValue &)> done);

    // Closes the window of kind, as its close button does (it is hidden).
    void close(const QString &kind);

    // Ends ondavox-pages and forgets its windows.
    void stop();

    // Where ondavox-pages is: ONDAVOX_PAGES_PROGRAM if set, else the
    // package's private folder beside this program's, else this program's
    // own folder (a build tree).
    static QString program();

signals:
    void windowChanged(const QString &kind);
    // ondavox-pages ended, whatever the reason.
    void ended();

private:
    explicit PagesWindows(QObject *parent);
    ~PagesWindows() override;
    bool start();
    void send(const QJsonObject &message);
    void readOutput();
    void onEnded();

    QProcess *process = nullptr;
    QByteArray buffer;
    QMap<QString, Window> shown;
    int nextRun = 1;
    QMap<int, std::function<void(const QJsonValue &)>> pendingRuns;
};
