// Runs the real ondavox-devserver binary for a test and talks HTTP to it the
// way the softphone does: Latin-1 values percent-encoded, replies read as
// Latin-1 text up to the first NUL, then "false" or strict JSON.
#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <map>
#include <memory>
#include <string>
#include <vector>

struct HttpReply {
    bool transportOk = false;  // false when the connection failed or broke
    int status = 0;
    std::string body;
    std::string contentType;

    // The body as the softphone reads it.
    QString text() const;
    bool isFalse() const { return transportOk && text() == QLatin1String("false"); }
    // The body parsed strictly as a JSON object; ok tells whether it was one.
    QJsonObject object(bool *ok = nullptr) const;
    bool isAscii() const;
};

class DevServer {
public:
    // With an empty database path the server gets a fresh one in a
    // temporary folder that lives as long as this object.
    explicit DevServer(QStringList extraArguments = {}, QString databasePath = {});
    ~DevServer();

    // Starts the binary and waits for its "http listening on" line.
    bool start(QString *error = nullptr);
    // Stops it as a user would (SIGTERM) and returns its exit code, or -1.
    int stop();
    // Runs the binary with the arguments and returns its exit code (for
    // option errors); nothing listens afterwards.
    static int runToExit(const QStringList &arguments, QString *standardError = nullptr);

    int port() const { return port_; }
    // The UDP port of the IAX2 side (its line comes before the HTTP one).
    int iaxPort() const { return iaxPort_; }
    QString databasePath() const { return databasePath_; }
    QString standardError() const;

    HttpReply get(const std::string &pathAndQuery) const;
    HttpReply post(const std::string &pathAndQuery, const std::string &body) const;

    // The login key for the account, or empty text after "false".
    std::string login(const QString &email, const QString &password) const;

    // The first column of the first row the query gives, read from the
    // server's database beside it: a number, a text, or null when there is
    // no row or the query fails.
    QVariant queryValue(const QString &sql) const;
    // Runs a statement that must change exactly one row of the database.
    bool changeOneRow(const QString &sql) const;

private:
    QStringList extraArguments_;
    QString databasePath_;
    std::unique_ptr<QTemporaryDir> tempDir_;
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
    int iaxPort_ = 0;
};

// Percent-encodes the Latin-1 bytes of the text, as the softphone does.
std::string encodeValue(const QString &value);
// key=value& pairs in order, each value encoded.
std::string formBody(const std::vector<std::pair<std::string, QString>> &pairs);

extern const char *const kDemoEmail;
extern const char *const kDemoPassword;
