#include "app/accountpages.h"

#include "account/servicerequest.h"
#include "base/deployment.h"
#include "app/pageswindows.h"

#include <QUrl>

namespace AccountPages {

QByteArray loginBody(const QString &key)
{
    return FormFields().add(QStringLiteral("login"), key).toBody();
}

void open(const QString &window, const QString &path, const FormFields &query, const QString &key)
{
    PagesWindows::instance()->open(window, ServiceRequest::url(path, query), loginBody(key));
}

void openPublic(const QString &window, const QString &path)
{
    PagesWindows::instance()->open(window, QUrl(Deployment::webBase() + path));
}

} // namespace AccountPages
