#pragma once

#include <QString>

class FormFields;

// The service's account pages (rates, the web phonebook, billing), shown in
// browser windows of their own and already logged in: each page is loaded
// with the login key posted as its form body.
namespace AccountPages {

// The windows a page opens in: rates and the web phonebook share one, the
// billing pages have the other, and each of the login dialog's pages has
// its own.
inline const QString PagesWindow = QStringLiteral("pages");
inline const QString BillingWindow = QStringLiteral("billing");

// The form body that logs a page in: "login=<key>&", so "login=&" when there
// is no key. The key is percent-encoded like every other form value, so a
// key that ever held "&" or "=" would still reach the service whole.
QByteArray loginBody(const QString &key);

// Shows the service's page at path (with an optional query) in window,
// posted with the login body, maximised and in front. The window is reused
// for every later page of its kind, so a second request replaces the page
// instead of opening another window.
void open(const QString &window, const QString &path, const FormFields &query, const QString &key);

// Shows the service's public page at path in window (a plain GET).
void openPublic(const QString &window, const QString &path);

} // namespace AccountPages
