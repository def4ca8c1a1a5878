#pragma once

#include <QPointer>
#include <QString>
#include <QWebEngineHttpRequest>

class FormFields;
class QWebEngineView;

// The service's account pages (rates, the web phonebook, billing), shown in
// browser windows of their own and already logged in: each page is loaded
// with the login key posted as its form body.
namespace AccountPages {

// The request for the page at path (with an optional query): a POST whose
// body is "login=<key>&", so "login=&" when there is no key. No header is
// set; the browser engine adds what a form post needs.
QWebEngineHttpRequest request(const QString &path, const FormFields &query, const QString &key);

// Loads the request into window, creating the window on first use, and shows
// it maximised. The window is reused for every later page of its family, so
// a second request replaces the page instead of opening another window.
void open(QPointer<QWebEngineView> &window, const QWebEngineHttpRequest &request);

} // namespace AccountPages
