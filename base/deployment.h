#pragma once

#include <QString>

class QUrl;

// Where the Ondavox service lives. The build fixes defaults; the environment
// variables ONDAVOX_WEB_BASE and ONDAVOX_IAX2_HOST override them at run time.
namespace Deployment {

// Scheme, host and optional port of the web service, without a trailing slash.
QString webBase();

// IAX2 server as "host" or "host:port".
QString iax2Host();

// Whether url is a web address (http or https) with the scheme, host and
// port of service (a port left out is the scheme's own).
bool sameOrigin(const QUrl &service, const QUrl &url);
// The same for the web base address.
bool isServiceOrigin(const QUrl &url);

} // namespace Deployment
