#pragma once

#include <QString>

// Where the Ondavox service lives. The build fixes defaults; the environment
// variables ONDAVOX_WEB_BASE and ONDAVOX_IAX2_HOST override them at run time.
namespace Deployment {

// Scheme, host and optional port of the web service, without a trailing slash.
QString webBase();

// IAX2 server as "host" or "host:port".
QString iax2Host();

} // namespace Deployment
