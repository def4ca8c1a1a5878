#pragma once

class QWebEngineView;

namespace BrowserWindow {

// A top-level browser window for the service's pages. It has no parent, so
// it lives on its own beside the main window; closing it only hides it. All
// such windows are destroyed when the application is about to quit, before
// the browser engine shuts down.
QWebEngineView *create();

} // namespace BrowserWindow
