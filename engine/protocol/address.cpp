#include "address.h"

#include <cstdio>

namespace iax2 {

Address Address::v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint16_t port)
{
    Address addr;
    addr.family = Family::V4;
    addr.bytes[0] = a;
    addr.bytes[1] = b;
    addr.bytes[2] = c;
    addr.bytes[3] = d;
    addr.port = port;
    return addr;
}

std::string Address::toString(bool withPort) const
{
    char buf[64];
    std::string host;
    if (family == Family::V4) {
        std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
        host = buf;
    } else if (family == Family::V6) {
        // Plain groups without zero compression: unambiguous and enough for logs.
        for (int i = 0; i < 16; i += 2) {
            std::snprintf(buf, sizeof buf, "%s%x", i ? ":" : "", (bytes[i] << 8) | bytes[i + 1]);
            host += buf;
        }
        if (withPort)
            host = "[" + host + "]";
    } else {
        return "(none)";
    }
    if (withPort)
        host += ":" + std::to_string(port);
    return host;
}

} // namespace iax2
