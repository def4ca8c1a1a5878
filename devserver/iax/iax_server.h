// The devserver's IAX2 side on the network: a UDP socket and a thread of its
// own around ServerCore.
#pragma once

#include "iax_backend.h"
#include "server_core.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace iax2net {
class UdpSocket;
class Wakeup;
} // namespace iax2net

namespace devserver {

struct IaxServerOptions {
    std::string address = "127.0.0.1";
    std::uint16_t port = 4569;
    ServerCoreOptions core;
};

class IaxServer {
public:
    IaxServer(IaxBackend &backend, IaxServerOptions options);
    ~IaxServer();
    IaxServer(const IaxServer &) = delete;
    IaxServer &operator=(const IaxServer &) = delete;

    // Binds and starts the thread; false with a reason when the address is unusable.
    bool start(std::string *error);
    // Hangs up open calls, closes their records and stops the thread.
    void stop();
    // The bound port, also when port 0 was asked for.
    std::uint16_t port() const;
    // Where a user is registered now, if anywhere.
    std::optional<iax2::Address> registeredAddress(const std::string &user) const;
    // Changes the impairment of the voice it sends, during a call too: a
    // test sees how the client takes a network that turns bad.
    void setImpairment(const Impairment &impairment);

private:
    void run();
    std::uint64_t now() const;
    void flush();

    IaxBackend &backend_;
    IaxServerOptions options_;
    std::unique_ptr<iax2net::UdpSocket> socket_;
    std::unique_ptr<iax2net::Wakeup> wakeup_;
    mutable std::mutex coreMutex_; // the core is the thread's, and registeredAddress's
    std::unique_ptr<ServerCore> core_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<std::uint16_t> port_{0};
    const std::chrono::steady_clock::time_point epoch_ = std::chrono::steady_clock::now();
};

} // namespace devserver
