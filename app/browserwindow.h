#pragma once

class QUrl;
class QWebEngineView;

namespace BrowserWindow {

// A top-level browser window for the service's pages. It has no parent, so
// it lives on its own beside the main window; closing it only hides it. All
// such windows are destroyed when the application is about to quit, before
// the browser engine shuts down.
//
// The window stays on the service's origin: a link elsewhere on the web
// (also one asking for a new window) opens in the user's browser, and other
// schemes, local files and downloads are refused.
QWebEngineView *create();

// Whether url has the scheme, host and port of the service's web base.
bool isServiceOrigin(const QUrl &url);

} // namespace BrowserWindow
