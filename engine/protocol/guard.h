// What both ends of IAX2 need against strangers on the network: randomness
// from the system, call numbers nobody can predict, and a bound on the
// replies we send without keeping state.
#pragma once

#include "address.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace iax2 {

// Bytes from the operating system's random source (getrandom).
void systemRandom(void *out, std::size_t size);
// A text of hex digits carrying `bytes` random bytes: call-token secrets,
// MD5 challenges.
std::string randomHex(std::size_t bytes);

// Source call numbers drawn at random from 1..32767, so an off-path sender
// cannot aim frames at our dialogs by counting.
class CallNumbers {
public:
    CallNumbers();
    // A number for which taken(number) is false; 0 when too many tries found
    // only taken ones (the caller caps its dialogs well below the range).
    template <typename Taken>
    std::uint16_t allocate(Taken taken)
    {
        std::uniform_int_distribution<std::uint32_t> pick(1, 0x7fff);
        for (int attempt = 0; attempt < 1000; ++attempt) {
            const auto n = static_cast<std::uint16_t>(pick(random_));
            if (!taken(n))
                return n;
        }
        return 0;
    }

private:
    std::mt19937 random_;
};

// Replies we send to frames outside any dialog (REJECT, CALLTOKEN, INVAL)
// cost us nothing to keep, but a forged flood must not turn us into a
// reflector: each source host gets a few a second, and all of them together
// a bounded number.
class ReplyLimiter {
public:
    struct Options {
        double perHostPerSecond = 5;
        double perHostBurst = 5;
        double totalPerSecond = 100;
        double totalBurst = 100;
    };
    ReplyLimiter();
    explicit ReplyLimiter(Options options);

    // True when a reply to `from` may go now; counts it.
    bool allow(const Address &from, std::uint64_t nowMs);

private:
    struct Bucket {
        double tokens = 0;
        std::uint64_t at = 0;
        bool used = false;
    };
    static bool take(Bucket &b, double rate, double burst, std::uint64_t nowMs);

    Options options_;
    // Hosts share slots by hash: bounded memory whatever the flood; a
    // collision only makes two hosts share a limit.
    std::array<Bucket, 512> hosts_{};
    Bucket total_{};
    std::uint32_t salt_ = 0;
};

} // namespace iax2
