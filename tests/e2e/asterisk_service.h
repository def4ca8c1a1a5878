// The web service and the real Asterisk side by side: the devserver hands out
// at login the IAX2 account that Asterisk is started with.
#pragma once

#include "asterisk_peer.h"
#include "devserver_process.h"

#include <QtGlobal>

#include <cstdio>
#include <string>

// Starts both. Returns 0, AsteriskPeer::kMissing after printing why the
// test is skipped, or 1 after saying what failed.
inline int startServiceAndAsterisk(DevServer &server, interop::AsteriskPeer &peer, const char *peerScript)
{
    QString error;
    if (!server.start(&error)) {
        qCritical("the devserver did not start: %s", qPrintable(error));
        return 1;
    }
    const QString demo = QStringLiteral(" FROM accounts WHERE email = '%1'").arg(QLatin1String(kDemoEmail));
    const std::string user = server.queryValue(QStringLiteral("SELECT iax_username") + demo).toString().toStdString();
    const std::string secret = server.queryValue(QStringLiteral("SELECT iax_password") + demo).toString().toStdString();
    std::string why;
    const int rc = peer.up(peerScript, &why, user, secret);
    if (rc == interop::AsteriskPeer::kMissing) {
        std::printf("SKIPPED: %s", why.c_str());
        return rc;
    }
    if (rc != 0) {
        qCritical("Asterisk did not start: %s", why.c_str());
        return 1;
    }
    return 0;
}
