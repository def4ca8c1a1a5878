// The textual forms the program hands the engine: "host[:port]" for
// registration and "user:password@host[:port]/number" for calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace iax2 {

struct HostPort {
    std::string host; // without brackets for IPv6 literals
    std::uint16_t port = 0;
};

// "name", "name:port", "1.2.3.4:port", "[v6]:port", or a bare IPv6 literal.
std::optional<HostPort> parseHostPort(const std::string &text, std::uint16_t defaultPort);

struct DialString {
    std::string user;
    std::string password;
    HostPort server;
    std::string number;
};

// The user name ends at the first ":", the password at the last "@" (so a
// password may hold ":" "@" or "/"), the number follows the first "/" after it.
// In the user name "%3A" stands for ":" and "%25" for "%"; nothing else in
// the string is unescaped.
std::optional<DialString> parseDialString(const std::string &text, std::uint16_t defaultPort);

} // namespace iax2
