#include "call_token.h"

#include "md5.h"

#include <algorithm>

namespace iax2 {

CallTokenIssuer::CallTokenIssuer(std::string secret, std::uint32_t maxAgeSeconds)
    : secret_(std::move(secret)), maxAge_(maxAgeSeconds)
{
}

std::string CallTokenIssuer::digest(const Address &peer, const std::string &issued) const
{
    return md5Hex(secret_ + "|" + peer.toString() + "|" + issued);
}

std::string CallTokenIssuer::issue(const Address &peer, std::uint64_t nowSeconds) const
{
    const std::string issued = std::to_string(nowSeconds);
    return issued + "?" + digest(peer, issued);
}

bool CallTokenIssuer::verify(const std::string &token, const Address &peer, std::uint64_t nowSeconds) const
{
    const auto mark = token.find('?');
    if (mark == std::string::npos || mark == 0 || mark > 19)
        return false;
    const std::string issued = token.substr(0, mark);
    if (!std::all_of(issued.begin(), issued.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const std::uint64_t when = std::stoull(issued);
    if (when > nowSeconds || nowSeconds - when > maxAge_)
        return false;
    return token.substr(mark + 1) == digest(peer, issued);
}

} // namespace iax2
