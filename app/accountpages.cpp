#include "app/accountpages.h"

#include "account/servicerequest.h"
#include "app/browserwindow.h"

#include <QWebEngineHttpRequest>
#include <QWebEngineView>

namespace AccountPages {

QWebEngineHttpRequest request(const QString &path, const FormFields &query, const QString &key)
{
    QWebEngineHttpRequest result(ServiceRequest::url(path, query), QWebEngineHttpRequest::Post);
    // The key is percent-encoded like every other form value, so a key that
    // ever held "&" or "=" would still reach the service whole.
    result.setPostData(FormFields().add(QStringLiteral("login"), key).toBody());
    return result;
}

void open(QPointer<QWebEngineView> &window, const QWebEngineHttpRequest &request)
{
    if (!window)
        window = BrowserWindow::create();
    window->load(request);
    window->showMaximized();
    // A window already open behind the main window comes to the front.
    window->raise();
    window->activateWindow();
}

} // namespace AccountPages
