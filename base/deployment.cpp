#include "base/deployment.h"

#include <QUrl>
#include <QtGlobal>

namespace {

QString fromEnvironment(const char *name, const char *fallback)
{
    const QString value = qEnvironmentVariable(name).trimmed();
    return value.isEmpty() ? QString::fromUtf8(fallback) : value;
}

int portOf(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return url.port(443);
    if (scheme == QLatin1String("http"))
        return url.port(80);
    return url.port();
}

} // namespace

namespace Deployment {

QString webBase()
{
    QString base = fromEnvironment("ONDAVOX_WEB_BASE", ONDAVOX_DEFAULT_WEB_BASE);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

QString iax2Host()
{
    return fromEnvironment("ONDAVOX_IAX2_HOST", ONDAVOX_DEFAULT_IAX2_HOST);
}

bool sameOrigin(const QUrl &service, const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty()
           && scheme == service.scheme().toLower() && url.host() == service.host() && portOf(url) == portOf(service);
}

bool isServiceOrigin(const QUrl &url)
{
    return sameOrigin(QUrl(webBase()), url);
}

} // namespace Deployment
