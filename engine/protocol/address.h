// A peer's UDP address as a plain value, so the protocol core needs no sockets.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace iax2 {

struct Address {
    enum class Family : std::uint8_t { None, V4, V6 };

    Family family = Family::None;
    std::array<std::uint8_t, 16> bytes{}; // IPv4 uses the first four
    std::uint16_t port = 0;

    static Address v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint16_t port);

    bool valid() const { return family != Family::None; }
    // "1.2.3.4:5" or "[::1]:5"; the address without port when withPort is false.
    std::string toString(bool withPort = true) const;

    friend bool operator==(const Address &a, const Address &b)
    {
        return a.family == b.family && a.port == b.port && a.bytes == b.bytes;
    }
    friend bool operator!=(const Address &a, const Address &b) { return !(a == b); }
    friend bool operator<(const Address &a, const Address &b)
    {
        if (a.family != b.family)
            return a.family < b.family;
        if (a.bytes != b.bytes)
            return a.bytes < b.bytes;
        return a.port < b.port;
    }
};

} // namespace iax2
