// Call tokens: a server hands one to an address before it keeps any state
// for it, so a spoofed source address can never open a call or registration.
#pragma once

#include "address.h"

#include <cstdint>
#include <string>

namespace iax2 {

class CallTokenIssuer {
public:
    explicit CallTokenIssuer(std::string secret, std::uint32_t maxAgeSeconds = 30);

    // "<issue time>?<MD5 of secret, address and issue time>"
    std::string issue(const Address &peer, std::uint64_t nowSeconds) const;
    // True for a token this issuer gave that same address, not older than the maximum age.
    bool verify(const std::string &token, const Address &peer, std::uint64_t nowSeconds) const;

private:
    std::string digest(const Address &peer, const std::string &issued) const;

    std::string secret_;
    std::uint32_t maxAge_;
};

} // namespace iax2
