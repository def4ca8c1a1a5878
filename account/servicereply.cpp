#include "account/servicereply.h"

#include "account/servicerequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

QString scriptNumberText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (value == 0)
        return QStringLiteral("0"); // also for -0
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-Infinity") : QStringLiteral("Infinity");
    if (value < 0)
        return QLatin1Char('-') + scriptNumberText(-value);

    // Shortest digits that read back as the same number, then laid out as
    // the script language does: plain up to 21 integer digits, 0.000001 and
    // up without an exponent, an exponent otherwise.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string scientific(buffer, result.ptr);
    const auto ePos = scientific.find('e');
    std::string digits;
    for (char c : scientific.substr(0, ePos))
        if (c != '.')
            digits += c;
    const int k = int(digits.size());
    const int n = std::stoi(scientific.substr(ePos + 1)) + 1;

    std::string text;
    if (k <= n && n <= 21) {
        text = digits + std::string(size_t(n - k), '0');
    } else if (0 < n && n <= 21) {
        text = digits.substr(0, size_t(n)) + '.' + digits.substr(size_t(n));
    } else if (-6 < n && n <= 0) {
        text = "0." + std::string(size_t(-n), '0') + digits;
    } else {
        const int exponent = n - 1;
        const std::string sign = exponent < 0 ? "-" : "+";
        text = digits.substr(0, 1);
        if (k > 1)
            text += '.' + digits.substr(1);
        text += 'e' + sign + std::to_string(std::abs(exponent));
    }
    return QString::fromStdString(text);
}

double scriptTextNumber(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return 0;
    if (trimmed == QLatin1String("Infinity") || trimmed == QLatin1String("+Infinity"))
        return std::numeric_limits<double>::infinity();
    if (trimmed == QLatin1String("-Infinity"))
        return -std::numeric_limits<double>::infinity();

    static const QRegularExpression radix(QStringLiteral("^0([xXoObB])([0-9a-fA-F]+)$"));
    if (const auto match = radix.match(trimmed); match.hasMatch()) {
        const QChar kind = match.captured(1).at(0).toLower();
        const int base = kind == QLatin1Char('x') ? 16 : kind == QLatin1Char('o') ? 8 : 2;
        double result = 0;
        for (QChar c : match.capturedView(2)) {
            const int digit = c.isDigit() ? c.unicode() - '0' : c.toLower().unicode() - 'a' + 10;
            if (digit >= base)
                return std::numeric_limits<double>::quiet_NaN();
            result = result * base + digit;
        }
        return result;
    }

    static const QRegularExpression decimal(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    if (!decimal.match(trimmed).hasMatch())
        return std::numeric_limits<double>::quiet_NaN();
    bool ok = false;
    const double value = trimmed.toDouble(&ok);
    if (ok)
        return value;
    // Out of range: the script language gives an infinity, or zero for a
    // tiny value; toDouble refuses both.
    const bool negative = trimmed.startsWith(QLatin1Char('-'));
    const bool tiny = trimmed.contains(QLatin1String("e-")) || trimmed.contains(QLatin1String("E-"));
    const double magnitude = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    return negative ? -magnitude : magnitude;
}

namespace {

double toNumber(const QJsonValue &value, const QString &asText)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return 0;
    case QJsonValue::Bool:
        return value.toBool() ? 1 : 0;
    case QJsonValue::Double:
        return value.toDouble();
    case QJsonValue::String:
    case QJsonValue::Array:
        return scriptTextNumber(asText);
    default:
        return std::numeric_limits<double>::quiet_NaN();
    }
}

qint32 toInt32(double number)
{
    if (std::isnan(number) || std::isinf(number))
        return 0;
    const double two32 = 4294967296.0;
    double wrapped = std::fmod(std::trunc(number), two32);
    if (wrapped < 0)
        wrapped += two32;
    if (wrapped >= 2147483648.0)
        wrapped -= two32;
    return qint32(wrapped);
}

// Keys that name array positions, in the order the script language visits an
// object's own properties: those first, by value, then the others.
bool arrayIndex(const QString &key, quint32 *index)
{
    if (key.isEmpty() || (key.size() > 1 && key.startsWith(QLatin1Char('0'))))
        return false;
    bool ok = false;
    const qulonglong value = key.toULongLong(&ok);
    if (!ok || value >= 4294967295ULL)
        return false;
    for (QChar c : key)
        if (!c.isDigit())
            return false;
    *index = quint32(value);
    return true;
}

QString describeTransportError(QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    switch (reply->error()) {
    case QNetworkReply::ConnectionRefusedError:
        return QObject::tr("the connection was refused");
    case QNetworkReply::HostNotFoundError:
        return QObject::tr("the server's name could not be found");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QObject::tr("the service did not answer in time");
    case QNetworkReply::RemoteHostClosedError:
        return QObject::tr("the connection was closed before the answer arrived");
    case QNetworkReply::SslHandshakeFailedError:
        return QObject::tr("the secure connection could not be trusted (%1)").arg(reply->errorString());
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::UnknownNetworkError:
        return QObject::tr("the network is not available");
    default:
        break;
    }
    if (status.isValid() && status.toInt() >= 400)
        return QObject::tr("the service answered with error %1").arg(status.toInt());
    return reply->errorString();
}

} // namespace

ReplyValue::ReplyValue(const QJsonValue &value)
    : value_(value)
{
}

ReplyValue ReplyValue::property(const QString &name) const
{
    if (value_.isObject())
        return ReplyValue(value_.toObject().value(name));
    if (value_.isArray()) {
        quint32 index = 0;
        if (arrayIndex(name, &index)) {
            const QJsonArray array = value_.toArray();
            if (index < quint32(array.size()))
                return ReplyValue(array.at(qsizetype(index)));
        }
    }
    return ReplyValue();
}

QString ReplyValue::toText() const
{
    switch (value_.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return value_.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return scriptNumberText(value_.toDouble());
    case QJsonValue::String:
        return value_.toString();
    case QJsonValue::Array: {
        // An array prints as its elements joined by commas, with null as
        // empty text.
        QStringList parts;
        for (const QJsonValue &element : value_.toArray())
            parts << (element.isNull() ? QString() : ReplyValue(element).toText());
        return parts.join(QLatin1Char(','));
    }
    case QJsonValue::Object:
        return QStringLiteral("[object Object]");
    default:
        return QString();
    }
}

bool ReplyValue::toBoolean() const
{
    switch (value_.type()) {
    case QJsonValue::Bool:
        return value_.toBool();
    case QJsonValue::Double: {
        const double number = value_.toDouble();
        return number != 0 && !std::isnan(number);
    }
    case QJsonValue::String:
        return !value_.toString().isEmpty();
    case QJsonValue::Array:
    case QJsonValue::Object:
        return true;
    default:
        return false;
    }
}

qint32 ReplyValue::toInt32() const
{
    if (value_.isUndefined())
        return 0;
    return ::toInt32(toNumber(value_, toText()));
}

QList<ReplyValue> ReplyValue::elements() const
{
    QList<ReplyValue> result;
    if (value_.isArray()) {
        for (const QJsonValue &element : value_.toArray())
            result << ReplyValue(element);
    } else if (value_.isObject()) {
        const QJsonObject object = value_.toObject();
        QList<std::pair<quint32, QString>> indexed;
        QStringList named;
        for (auto it = object.begin(); it != object.end(); ++it) {
            quint32 index = 0;
            if (arrayIndex(it.key(), &index))
                indexed.append({index, it.key()});
            else
                named << it.key();
        }
        std::sort(indexed.begin(), indexed.end());
        for (const auto &entry : indexed)
            result << ReplyValue(object.value(entry.second));
        for (const QString &key : named)
            result << ReplyValue(object.value(key));
    }
    return result;
}

ServiceReply ServiceReply::fromBody(const QByteArray &body)
{
    ServiceReply reply;
    const qsizetype nul = body.indexOf('\0');
    reply.text_ = QString::fromLatin1(nul < 0 ? body : body.left(nul));
    if (!reply.isFalse()) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(reply.text_.toUtf8(), &error);
        if (error.error == QJsonParseError::NoError && document.isObject())
            reply.root_ = ReplyValue(document.object());
    }
    return reply;
}

ServiceReply ServiceReply::read(QNetworkReply *networkReply)
{
    if (ServiceRequest::exceededLimit(networkReply)) {
        ServiceReply refused;
        refused.tooLarge_ = true;
        return refused;
    }
    ServiceReply reply = fromBody(networkReply->readAll());
    if (networkReply->error() != QNetworkReply::NoError)
        reply.transportError_ = describeTransportError(networkReply);
    return reply;
}
