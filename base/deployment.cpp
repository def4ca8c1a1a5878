#include "base/deployment.h"

#include <QtGlobal>

namespace {

QString fromEnvironment(const char *name, const char *fallback)
{
    const QString value = qEnvironmentVariable(name).trimmed();
    return value.isEmpty() ? QString::fromUtf8(fallback) : value;
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

} // namespace Deployment
