// Shared by the tests that drive TAccount against a loopback responder.
#pragma once

#include "account/taccount.h"
#include "httpresponder.h"

#include <QSignalSpy>
#include <QTest>

// Logs the account in at the responder, which answers with the key "K1";
// the phonebook request that the login schedules is answered too.
inline bool logIn(TAccount &account, HttpResponder &responder, const QByteArray &phonebook = R"({"result":[]})")
{
    responder.setReply("/Webservices/login.php", R"({"Username":"1000","Password":"pw","Key":"K1"})");
    responder.setReply("/Webservices/contacts.php", phonebook);
    QSignalSpy result(&account, &TAccount::loginResult);
    account.setEmail(QStringLiteral("demo@ondavox.com"));
    account.setPassword(QStringLiteral("secret"));
    account.login();
    return result.wait(5000) && result.at(0).at(0).toBool() && account.key() == QLatin1String("K1");
}

// Points the program at the responder for the life of the object.
struct WebBase {
    explicit WebBase(const HttpResponder &responder) { qputenv("ONDAVOX_WEB_BASE", responder.baseUrl().toUtf8()); }
    ~WebBase() { qunsetenv("ONDAVOX_WEB_BASE"); }
};
