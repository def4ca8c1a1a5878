#pragma once

#include <QUrl>

// Where a page of the service's account windows may take its window. The
// windows have no address bar: their title names the host the user is on,
// and only secure addresses are opened in them, so that a payment can pass
// through its provider (another https origin) and come back.
namespace Navigation {

enum class Verdict {
    Follow,    // load it in the window
    ToBrowser, // hand it to the user's web browser, not in the window
    Refuse,    // not opened anywhere; the window says so
};

// Whether url has the scheme, host and port of service.
bool sameOrigin(const QUrl &service, const QUrl &url);

// A navigation of the window's top-level page to url; linkClicked when the
// user clicked a link to it.
Verdict forWindow(const QUrl &service, const QUrl &url, bool linkClicked);

// A frame inside the page shown at top: on the service's pages only blank
// frames, on a provider's secure page its own secure frames as well.
bool frameAllowed(const QUrl &service, const QUrl &top, const QUrl &url);

// A page asked for a new window: the service's addresses stay in the window,
// other web addresses go to the user's browser.
Verdict forNewWindow(const QUrl &service, const QUrl &url);

} // namespace Navigation
