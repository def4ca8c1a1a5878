#include "dial_string.h"

#include <algorithm>

namespace iax2 {

namespace {

std::optional<std::uint16_t> parsePort(const std::string &text)
{
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const unsigned long v = std::stoul(text);
    if (v == 0 || v > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(v);
}

// A user name may hold ":" written as "%3A" (and "%" as "%25"), since its
// first plain ":" ends it; no other sequence is read as an escape.
std::string unescapedUser(const std::string &text)
{
    std::string user;
    user.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const std::string code = text.substr(i + 1, 2);
            if (code == "3A" || code == "3a") {
                user += ':';
                i += 2;
                continue;
            }
            if (code == "25") {
                user += '%';
                i += 2;
                continue;
            }
        }
        user += text[i];
    }
    return user;
}

bool hasBlankOrControl(const std::string &text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '@';
    });
}

} // namespace

std::optional<HostPort> parseHostPort(const std::string &text, std::uint16_t defaultPort)
{
    HostPort hp;
    hp.port = defaultPort;
    if (text.empty())
        return std::nullopt;
    if (text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close == 1)
            return std::nullopt;
        hp.host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return std::nullopt;
            const auto port = parsePort(rest.substr(1));
            if (!port)
                return std::nullopt;
            hp.port = *port;
        }
    } else {
        const auto colon = text.find(':');
        if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
            const auto port = parsePort(text.substr(colon + 1));
            if (!port)
                return std::nullopt;
            hp.host = text.substr(0, colon);
            hp.port = *port;
        } else {
            hp.host = text; // a name, or an IPv6 literal written without brackets
        }
    }
    if (hp.host.empty() || hasBlankOrControl(hp.host))
        return std::nullopt;
    return hp;
}

std::optional<DialString> parseDialString(const std::string &text, std::uint16_t defaultPort)
{
    const auto at = text.rfind('@');
    if (at == std::string::npos)
        return std::nullopt;
    const std::string credentials = text.substr(0, at);
    const std::string location = text.substr(at + 1);
    const auto slash = location.find('/');
    if (slash == std::string::npos)
        return std::nullopt;

    DialString d;
    const auto colon = credentials.find(':');
    d.user = unescapedUser(credentials.substr(0, colon));
    if (colon != std::string::npos)
        d.password = credentials.substr(colon + 1);
    d.number = location.substr(slash + 1);
    const auto server = parseHostPort(location.substr(0, slash), defaultPort);
    if (!server || d.user.empty() || d.number.empty())
        return std::nullopt;
    d.server = *server;
    return d;
}

} // namespace iax2
