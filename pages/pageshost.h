#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QObject>

class PageWindow;
class QSocketNotifier;

// The account-pages program's side of the line to the phone: messages come
// in on the standard input, go out on the standard output. The phone asks
// for a page in a window of a kind ("open"), one window per kind, reused;
// the program reports each window's state back ("state") and hands web
// addresses for the user's browser to the phone ("browser"). When the phone
// closes the line (it quit, or died) this program ends.
class PagesHost : public QObject
{
    Q_OBJECT

public:
    explicit PagesHost(QObject *parent = nullptr);
    ~PagesHost() override;

private:
    void readInput();
    void handle(const QJsonObject &message);
    void open(const QJsonObject &message);
    void run(const QJsonObject &message);
    void send(const QJsonObject &message);
    void report(const QString &kind);

    QSocketNotifier *input;
    QByteArray buffer;
    QMap<QString, PageWindow *> windows;
};
