#include "base/pageschannel.h"

#include <QJsonDocument>

namespace PagesChannel {

QByteArray encode(const QJsonObject &message)
{
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

QList<QJsonObject> take(QByteArray &buffer)
{
    QList<QJsonObject> messages;
    qsizetype start = 0;
    for (qsizetype end = buffer.indexOf('\n'); end >= 0; end = buffer.indexOf('\n', start)) {
        const QJsonDocument document = QJsonDocument::fromJson(buffer.mid(start, end - start));
        if (document.isObject())
            messages.append(document.object());
        start = end + 1;
    }
    buffer.remove(0, start);
    if (buffer.size() > kMaxLine)
        buffer.clear();
    return messages;
}

} // namespace PagesChannel
