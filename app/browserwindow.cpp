#include "app/browserwindow.h"

#include "base/deployment.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QWebEngineDownloadRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

bool isWeb(const QUrl &url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

// A page of the service. The windows have no address bar, so a page that
// took its window elsewhere could pass off any form as the service's: they
// stay on the service's origin. Other web addresses go to the user's own
// browser, and nothing else (other schemes, local files) is followed.
class ServicePage : public QWebEnginePage
{
public:
    explicit ServicePage(QObject *parent)
        : QWebEnginePage(parent)
    {
        settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
        settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        // No new window ever opens in the program: the address goes where a
        // click on it would.
        connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest &request) {
            const QUrl url = request.requestedUrl();
            if (BrowserWindow::isServiceOrigin(url))
                load(url);
            else if (isWeb(url))
                QDesktopServices::openUrl(url);
        });
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (BrowserWindow::isServiceOrigin(url))
            return true;
        // Frames inside the service's pages may be blank, never elsewhere.
        if (!isMainFrame)
            return url == QUrl(QStringLiteral("about:blank")) || url == QUrl(QStringLiteral("about:srcdoc"));
        if (isWeb(url) && type == NavigationTypeLinkClicked)
            QDesktopServices::openUrl(url);
        return false;
    }
};

int defaultPort(const QUrl &url)
{
    if (url.scheme() == QLatin1String("https"))
        return 443;
    if (url.scheme() == QLatin1String("http"))
        return 80;
    return -1;
}

} // namespace

namespace BrowserWindow {

bool isServiceOrigin(const QUrl &url)
{
    const QUrl base(Deployment::webBase());
    return isWeb(url) && url.scheme() == base.scheme() && url.host() == base.host()
           && url.port(defaultPort(url)) == base.port(defaultPort(base));
}

QWebEngineView *create()
{
    auto *view = new QWebEngineView;
    view->setPage(new ServicePage(view));
    view->setWindowIcon(QIcon(QStringLiteral(":/Icon.png")));
    view->resize(1024, 720);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, view, [view] { delete view; });

    // Nothing the service's pages offer is saved to disk.
    static bool downloadsRefused = false;
    if (!downloadsRefused) {
        downloadsRefused = true;
        QObject::connect(view->page()->profile(), &QWebEngineProfile::downloadRequested, qApp,
                         [](QWebEngineDownloadRequest *download) { download->cancel(); });
    }
    return view;
}

} // namespace BrowserWindow
