#include "devserver_process.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QRegularExpression>

#include <httplib.h>
#include <sqlite3.h>

#include <csignal>

const char *const kDemoEmail = "demo@ondavox.com";
const char *const kDemoPassword = "ondavox-demo";

QString HttpReply::text() const
{
    const auto nul = body.find('\0');
    const std::string upToNul = nul == std::string::npos ? body : body.substr(0, nul);
    return QString::fromLatin1(upToNul.data(), static_cast<qsizetype>(upToNul.size()));
}

QJsonObject HttpReply::object(bool *ok) const
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text().toLatin1(), &error);
    if (ok)
        *ok = transportOk && error.error == QJsonParseError::NoError && doc.isObject();
    return doc.object();
}

bool HttpReply::isAscii() const
{
    for (char c : body) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

DevServer::DevServer(QStringList extraArguments, QString databasePath)
    : extraArguments_(std::move(extraArguments)), databasePath_(std::move(databasePath))
{
    if (databasePath_.isEmpty()) {
        tempDir_ = std::make_unique<QTemporaryDir>();
        databasePath_ = tempDir_->filePath(QStringLiteral("devserver.sqlite"));
    }
}

DevServer::~DevServer()
{
    stop();
}

bool DevServer::start(QString *error)
{
    process_ = std::make_unique<QProcess>();
    process_->setProgram(QStringLiteral(DEVSERVER_BINARY));
    // Both sides on free ports, so that test runs never collide.
    process_->setArguments(QStringList{QStringLiteral("--db"), databasePath_, QStringLiteral("--http-port"),
                                       QStringLiteral("0"), QStringLiteral("--iax-port"), QStringLiteral("0")} +
                           extraArguments_);
    process_->start();
    if (!process_->waitForStarted(10000)) {
        if (error)
            *error = QStringLiteral("cannot start ") + QStringLiteral(DEVSERVER_BINARY);
        return false;
    }
    static const QRegularExpression listening(QStringLiteral("^http listening on http://[^:]+:(\\d+)$"));
    static const QRegularExpression iaxListening(QStringLiteral("^iax2 listening on .+:(\\d+)$"));
    QDeadlineTimer deadline(30000);
    QByteArray pending;
    while (!deadline.hasExpired()) {
        if (!process_->canReadLine() && !process_->waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            break;
        while (process_->canReadLine()) {
            const QString line = QString::fromUtf8(process_->readLine()).trimmed();
            if (const auto iax = iaxListening.match(line); iax.hasMatch())
                iaxPort_ = iax.captured(1).toInt();
            const auto match = listening.match(line);
            if (match.hasMatch()) {
                port_ = match.captured(1).toInt();
                return true;
            }
        }
    }
    if (error)
        *error = QStringLiteral("no listening line; stderr: ") + standardError();
    return false;
}

int DevServer::stop()
{
    if (!process_ || process_->state() == QProcess::NotRunning) {
        process_.reset();
        return -1;
    }
    process_->terminate();
    if (!process_->waitForFinished(15000)) {
        process_->kill();
        process_->waitForFinished(5000);
        process_.reset();
        return -1;
    }
    const int code = process_->exitStatus() == QProcess::NormalExit ? process_->exitCode() : -1;
    process_.reset();
    return code;
}

int DevServer::runToExit(const QStringList &arguments, QString *standardError)
{
    QProcess process;
    process.start(QStringLiteral(DEVSERVER_BINARY), arguments);
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (standardError)
        *standardError = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString DevServer::standardError() const
{
    return process_ ? QString::fromUtf8(process_->readAllStandardError()) : QString();
}

namespace {

HttpReply toReply(const httplib::Result &result)
{
    HttpReply reply;
    if (!result)
        return reply;
    reply.transportOk = true;
    reply.status = result->status;
    reply.body = result->body;
    reply.contentType = result->get_header_value("Content-Type");
    return reply;
}

} // namespace

HttpReply DevServer::get(const std::string &pathAndQuery) const
{
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(30);
    return toReply(client.Get(pathAndQuery.c_str()));
}

HttpReply DevServer::post(const std::string &pathAndQuery, const std::string &body) const
{
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(30);
    return toReply(client.Post(pathAndQuery.c_str(), body, "application/x-www-form-urlencoded"));
}

std::string DevServer::login(const QString &email, const QString &password) const
{
    const HttpReply reply =
        get("/Webservices/login.php?email=" + encodeValue(email) + "&password=" + encodeValue(password));
    if (reply.isFalse())
        return {};
    return reply.object().value(QStringLiteral("Key")).toString().toStdString();
}

std::string encodeValue(const QString &value)
{
    return value.toLatin1().toPercentEncoding().toStdString();
}

std::string formBody(const std::vector<std::pair<std::string, QString>> &pairs)
{
    std::string body;
    for (const auto &[key, value] : pairs)
        body += key + "=" + encodeValue(value) + "&";
    return body;
}

QVariant DevServer::queryValue(const QString &sql) const
{
    sqlite3 *db = nullptr;
    QVariant value;
    if (sqlite3_open_v2(databasePath_.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW) {
            switch (sqlite3_column_type(statement, 0)) {
            case SQLITE_INTEGER:
                value = qlonglong(sqlite3_column_int64(statement, 0));
                break;
            case SQLITE_NULL:
                break;
            default:
                value = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
            }
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return value;
}

bool DevServer::changeOneRow(const QString &sql) const
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open(databasePath_.toUtf8().constData(), &db) == SQLITE_OK;
    if (ok) {
        sqlite3_busy_timeout(db, 5000);
        ok = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK
             && sqlite3_changes(db) == 1;
    }
    sqlite3_close(db);
    return ok;
}
