#include "udp_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace iax2net {

namespace {

iax2::Address fromSockaddr(const sockaddr_storage &ss)
{
    iax2::Address a;
    if (ss.ss_family == AF_INET) {
        const auto &in = reinterpret_cast<const sockaddr_in &>(ss);
        a.family = iax2::Address::Family::V4;
        std::memcpy(a.bytes.data(), &in.sin_addr, 4);
        a.port = ntohs(in.sin_port);
    } else if (ss.ss_family == AF_INET6) {
        const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(ss);
        a.port = ntohs(in6.sin6_port);
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) {
            // One peer, one address: IPv4 peers look the same on either socket kind.
            a.family = iax2::Address::Family::V4;
            std::memcpy(a.bytes.data(), in6.sin6_addr.s6_addr + 12, 4);
        } else {
            a.family = iax2::Address::Family::V6;
            std::memcpy(a.bytes.data(), in6.sin6_addr.s6_addr, 16);
        }
    }
    return a;
}

socklen_t toSockaddr(const iax2::Address &a, int socketFamily, sockaddr_storage *ss)
{
    std::memset(ss, 0, sizeof *ss);
    if (socketFamily == AF_INET6) {
        auto &in6 = reinterpret_cast<sockaddr_in6 &>(*ss);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(a.port);
        if (a.family == iax2::Address::Family::V4) {
            in6.sin6_addr.s6_addr[10] = 0xff;
            in6.sin6_addr.s6_addr[11] = 0xff;
            std::memcpy(in6.sin6_addr.s6_addr + 12, a.bytes.data(), 4);
        } else {
            std::memcpy(in6.sin6_addr.s6_addr, a.bytes.data(), 16);
        }
        return sizeof(sockaddr_in6);
    }
    auto &in = reinterpret_cast<sockaddr_in &>(*ss);
    in.sin_family = AF_INET;
    in.sin_port = htons(a.port);
    std::memcpy(&in.sin_addr, a.bytes.data(), 4);
    return sizeof(sockaddr_in);
}

} // namespace

UdpSocket::~UdpSocket()
{
    close();
}

void UdpSocket::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool UdpSocket::open(const std::string &host, std::uint16_t port, std::string *error)
{
    close();
    auto fail = [&](const std::string &what) {
        if (error)
            *error = what;
        close();
        return false;
    };
    sockaddr_storage ss{};
    socklen_t len = 0;
    if (host.empty()) {
        fd_ = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd_ >= 0) {
            int off = 0;
            dualStack_ = ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0;
            family_ = AF_INET6;
            auto &in6 = reinterpret_cast<sockaddr_in6 &>(ss);
            in6.sin6_family = AF_INET6;
            in6.sin6_addr = in6addr_any;
            in6.sin6_port = htons(port);
            len = sizeof in6;
        } else {
            // No IPv6 on this machine: IPv4 alone.
            fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd_ < 0)
                return fail(std::string("socket: ") + std::strerror(errno));
            family_ = AF_INET;
            auto &in = reinterpret_cast<sockaddr_in &>(ss);
            in.sin_family = AF_INET;
            in.sin_addr.s_addr = htonl(INADDR_ANY);
            in.sin_port = htons(port);
            len = sizeof in;
        }
    } else {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_DGRAM;
        hints.ai_flags = AI_PASSIVE;
        addrinfo *res = nullptr;
        const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &res);
        if (rc != 0 || !res)
            return fail("cannot resolve " + host + ": " + ::gai_strerror(rc));
        std::memcpy(&ss, res->ai_addr, res->ai_addrlen);
        len = res->ai_addrlen;
        family_ = res->ai_family;
        ::freeaddrinfo(res);
        if (family_ == AF_INET)
            reinterpret_cast<sockaddr_in &>(ss).sin_port = htons(port);
        else
            reinterpret_cast<sockaddr_in6 &>(ss).sin6_port = htons(port);
        fd_ = ::socket(family_, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd_ < 0)
            return fail(std::string("socket: ") + std::strerror(errno));
        dualStack_ = false;
    }
    if (::bind(fd_, reinterpret_cast<sockaddr *>(&ss), len) != 0)
        return fail("bind " + (host.empty() ? std::string("*") : host) + ":" + std::to_string(port) + ": "
                    + std::strerror(errno));
    return true;
}

std::uint16_t UdpSocket::localPort() const
{
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr *>(&ss), &len) != 0)
        return 0;
    return fromSockaddr(ss).port;
}

bool UdpSocket::canReach(const iax2::Address &to) const
{
    if (to.family == iax2::Address::Family::V4)
        return family_ == AF_INET || dualStack_;
    return to.family == iax2::Address::Family::V6 && family_ == AF_INET6;
}

bool UdpSocket::supportsV6() const
{
    return family_ == AF_INET6;
}

bool UdpSocket::sendTo(const iax2::Address &to, const std::vector<std::uint8_t> &bytes)
{
    if (fd_ < 0 || !canReach(to) || bytes.empty())
        return false;
    sockaddr_storage ss{};
    const socklen_t len = toSockaddr(to, family_, &ss);
    return ::sendto(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&ss), len)
           == static_cast<ssize_t>(bytes.size());
}

bool UdpSocket::receive(iax2::Address *from, std::vector<std::uint8_t> *bytes)
{
    if (fd_ < 0)
        return false;
    // Into a buffer kept for the purpose: sizing the caller's vector to the
    // largest datagram would clear 64 KiB for every 45-byte voice frame.
    if (scratch_.size() < 65536)
        scratch_.resize(65536);
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    const ssize_t n = ::recvfrom(fd_, scratch_.data(), scratch_.size(), 0, reinterpret_cast<sockaddr *>(&ss), &len);
    if (n < 0) {
        bytes->clear();
        return false;
    }
    bytes->assign(scratch_.begin(), scratch_.begin() + n);
    *from = fromSockaddr(ss);
    return true;
}

std::optional<iax2::Address> resolve(const std::string &host, std::uint16_t port, bool allowV6)
{
    addrinfo hints{};
    hints.ai_family = allowV6 ? AF_UNSPEC : AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res)
        return std::nullopt;
    // IPv4 first: a name with both kinds of address most often serves IAX2
    // on IPv4 alone (our devserver listens on 127.0.0.1 by default).
    std::optional<iax2::Address> found;
    for (int wanted : {AF_INET, AF_INET6}) {
        for (addrinfo *ai = res; ai && !found; ai = ai->ai_next) {
            if (ai->ai_family != wanted)
                continue;
            sockaddr_storage ss{};
            std::memcpy(&ss, ai->ai_addr, ai->ai_addrlen);
            iax2::Address a = fromSockaddr(ss);
            a.port = port;
            found = a;
        }
    }
    ::freeaddrinfo(res);
    return found;
}

Wakeup::Wakeup() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Wakeup::~Wakeup()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void Wakeup::poke()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(fd_, &one, sizeof one);
}

void Wakeup::drain()
{
    std::uint64_t value;
    [[maybe_unused]] const auto n = ::read(fd_, &value, sizeof value);
}

} // namespace iax2net
