#pragma once

#include <QJsonValue>
#include <QList>
#include <QString>

class QByteArray;
class QNetworkReply;

// One value of a service reply, read the way the service's replies have
// always been read by clients: texts, truth values and 32-bit integers follow
// the script language's conversion rules, so 12.50 reads as the text "12.5"
// and "42" reads as the integer 42. A missing value reads as empty text,
// false and 0.
class ReplyValue
{
public:
    ReplyValue() = default;
    explicit ReplyValue(const QJsonValue &value);

    bool isMissing() const { return value_.isUndefined(); }
    bool isObject() const { return value_.isObject(); }

    ReplyValue property(const QString &name) const;
    ReplyValue operator[](const char *name) const { return property(QString::fromLatin1(name)); }

    QString toText() const;
    bool toBoolean() const;
    qint32 toInt32() const;

    // The entries of a list: the elements of an array, or the values of an
    // object (keys that are array indices first, in numeric order).
    QList<ReplyValue> elements() const;

private:
    QJsonValue value_ = QJsonValue(QJsonValue::Undefined);
};

// A reply of the web service: either the exact text "false" or a JSON object.
// The body is read up to its first NUL byte as Latin-1 text and parsed as
// JSON; it is never evaluated as code.
class ServiceReply
{
public:
    static ServiceReply fromBody(const QByteArray &body);
    // Reads the whole reply, and remembers whether the transfer failed
    // (no connection, time-out, an HTTP error status).
    static ServiceReply read(QNetworkReply *reply);

    const QString &text() const { return text_; }
    bool isFalse() const { return text_ == QLatin1String("false"); }
    bool isObject() const { return root_.isObject(); }
    const ReplyValue &root() const { return root_; }
    ReplyValue operator[](const char *name) const { return root_[name]; }

    bool transportFailed() const { return !transportError_.isEmpty(); }
    // The reply was dropped unread for being larger than its kind may be
    // (ServiceRequest::limited); it is neither "false" nor an object.
    bool tooLarge() const { return tooLarge_; }
    // A few words on what went wrong with the transfer, empty if nothing did.
    const QString &transportError() const { return transportError_; }

private:
    QString text_;
    ReplyValue root_;
    QString transportError_;
    bool tooLarge_ = false;
};

// The script language's Number-to-text conversion (shortest round-trip form).
QString scriptNumberText(double value);
// The script language's text-to-Number conversion; NaN when not a number.
double scriptTextNumber(const QString &text);
