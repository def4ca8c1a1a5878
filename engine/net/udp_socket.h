// The thin I/O around the protocol core: a UDP socket speaking iax2::Address,
// blocking name resolution (run it off any thread that must stay responsive),
// and a wake-up handle for poll loops.
#pragma once

#include "address.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace iax2net {

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket &) = delete;
    UdpSocket &operator=(const UdpSocket &) = delete;

    // An empty host binds every local address, IPv6 and IPv4 alike where the
    // system allows; port 0 lets the system choose.
    bool open(const std::string &host, std::uint16_t port, std::string *error);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    std::uint16_t localPort() const;
    // Whether datagrams to this address family can leave through this socket.
    bool canReach(const iax2::Address &to) const;
    bool supportsV6() const;

    bool sendTo(const iax2::Address &to, const std::vector<std::uint8_t> &bytes);
    // Never blocks: false when nothing is waiting.
    bool receive(iax2::Address *from, std::vector<std::uint8_t> *bytes);

private:
    int fd_ = -1;
    int family_ = 0;
    bool dualStack_ = false;
    std::vector<std::uint8_t> scratch_;
};

// getaddrinfo, first usable answer; blocks for as long as the resolver takes.
std::optional<iax2::Address> resolve(const std::string &host, std::uint16_t port, bool allowV6);

// A file descriptor that a poll loop watches, and other threads poke.
class Wakeup {
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup &) = delete;
    Wakeup &operator=(const Wakeup &) = delete;
    int fd() const { return fd_; }
    void poke();
    void drain();

private:
    int fd_ = -1;
};

} // namespace iax2net
