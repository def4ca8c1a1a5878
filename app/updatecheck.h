#pragma once

#include "account/servicerequest.h"

#include <QString>
#include <QUrl>

class QObject;
class ServiceReply;

// Asks the service whether a newer version of the program exists.
namespace UpdateCheck {

// The program's own version, on the service's scale. It is compared with the
// announced one and shown nowhere.
constexpr qint32 BuiltInVersion = 101;

struct Offer {
    qint32 version = 0;
    QString downloadUrlWin;
    QString downloadUrlMac; // read for completeness; this program opens the other

    bool isNewer() const { return version > BuiltInVersion; }
    // The address to open when the user accepts: an https address, or an
    // http one on the service's own scheme, host and port. Anything else (a local
    // file, a program's own scheme) would let the reply start whatever the
    // desktop associates with it, and plain http elsewhere could be changed
    // on its way.
    QUrl downloadUrl() const;
};

// Reads the reply: "false", a failed transfer or a body that is not an
// object give no version (0), so no update is offered.
Offer fromReply(const ServiceReply &reply);

// Posts the empty request to "/update.php" and waits for the answer in a
// local event loop, in which the application goes on handling its other
// events. The wait ends with the reply, after timeoutMs without one, when
// guard (if given) is destroyed, or when the application is told to quit;
// every way but a reply gives an empty offer.
Offer fetch(const QObject *guard = nullptr, int timeoutMs = ServiceRequest::TransferTimeoutMs);

} // namespace UpdateCheck
