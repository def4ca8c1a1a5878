#include "pages/navigation.h"

#include "base/deployment.h"

namespace Navigation {

namespace {

bool isWeb(const QUrl &url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

bool isSecure(const QUrl &url)
{
    return url.scheme() == QLatin1String("https") && !url.host().isEmpty();
}

} // namespace

bool sameOrigin(const QUrl &service, const QUrl &url)
{
    // One rule with the update offer's.
    return Deployment::sameOrigin(service, url);
}

Verdict forWindow(const QUrl &service, const QUrl &url, bool linkClicked)
{
    if (sameOrigin(service, url) || isSecure(url))
        return Verdict::Follow;
    // A plain http link is the user's choice: their browser shows where it
    // leads. Anything else a page does by itself stays refused.
    if (linkClicked && isWeb(url))
        return Verdict::ToBrowser;
    return Verdict::Refuse;
}

bool frameAllowed(const QUrl &service, const QUrl &top, const QUrl &url)
{
    if (sameOrigin(service, url) || url == QUrl(QStringLiteral("about:blank"))
        || url == QUrl(QStringLiteral("about:srcdoc")))
        return true;
    return !sameOrigin(service, top) && isSecure(top) && isSecure(url);
}

Verdict forNewWindow(const QUrl &service, const QUrl &url)
{
    if (sameOrigin(service, url))
        return Verdict::Follow;
    return isWeb(url) ? Verdict::ToBrowser : Verdict::Refuse;
}

} // namespace Navigation
