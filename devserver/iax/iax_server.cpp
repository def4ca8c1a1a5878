#include "iax_server.h"

#include "realtime.h"
#include "udp_socket.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <poll.h>

namespace devserver {

IaxServer::IaxServer(IaxBackend &backend, IaxServerOptions options)
    : backend_(backend), options_(std::move(options))
{
}

IaxServer::~IaxServer()
{
    stop();
}

std::uint64_t IaxServer::now() const
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - epoch_).count());
}

bool IaxServer::start(std::string *error)
{
    if (thread_.joinable()) {
        if (error)
            *error = "already running";
        return false;
    }
    auto socket = std::make_unique<iax2net::UdpSocket>();
    if (!socket->open(options_.address, options_.port, error))
        return false;
    socket_ = std::move(socket);
    port_ = socket_->localPort();
    wakeup_ = std::make_unique<iax2net::Wakeup>();
    core_ = std::make_unique<ServerCore>(backend_, options_.core,
                                         [] { return static_cast<std::int64_t>(std::time(nullptr)); });
    stopRequested_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void IaxServer::stop()
{
    if (!thread_.joinable())
        return;
    stopRequested_ = true;
    wakeup_->poke();
    thread_.join();
    std::lock_guard<std::mutex> lock(coreMutex_);
    core_->hangupAll(now());
    flush();
    core_.reset();
    socket_.reset();
    wakeup_.reset();
}

std::uint16_t IaxServer::port() const
{
    return port_;
}

void IaxServer::flush()
{
    for (const auto &t : core_->takeTransmits())
        socket_->sendTo(t.to, t.bytes);
}

void IaxServer::run()
{
    // Echo calls reflect voice as it comes: like a real server's, this
    // thread must not wait for a core behind a busy machine's other work.
    iax2net::enterRealtime();
    std::vector<std::uint8_t> buffer;
    while (!stopRequested_) {
        int timeout = 1000;
        {
            std::lock_guard<std::mutex> lock(coreMutex_);
            if (auto next = core_->nextDeadline()) {
                const std::uint64_t t = now();
                timeout = *next <= t ? 0 : static_cast<int>(std::min<std::uint64_t>(*next - t, 1000));
            }
        }
        pollfd fds[2] = {{socket_->fd(), POLLIN, 0}, {wakeup_->fd(), POLLIN, 0}};
        ::poll(fds, 2, timeout);
        if (fds[1].revents & POLLIN)
            wakeup_->drain();
        std::lock_guard<std::mutex> lock(coreMutex_);
        iax2::Address from;
        for (int i = 0; i < 256 && socket_->receive(&from, &buffer); ++i)
            core_->handleDatagram(now(), from, buffer.data(), buffer.size());
        core_->poll(now());
        flush();
    }
}

void IaxServer::setImpairment(const Impairment &impairment)
{
    std::lock_guard<std::mutex> lock(coreMutex_);
    options_.core.impairment = impairment;
    if (core_)
        core_->setImpairment(impairment);
}

std::optional<iax2::Address> IaxServer::registeredAddress(const std::string &user) const
{
    std::lock_guard<std::mutex> lock(coreMutex_);
    if (!core_)
        return std::nullopt;
    return core_->registeredAddress(user, now());
}

} // namespace devserver
