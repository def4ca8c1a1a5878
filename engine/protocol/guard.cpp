#include "guard.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace iax2 {

void systemRandom(void *out, std::size_t size)
{
    auto *p = static_cast<std::uint8_t *>(out);
    while (size > 0) {
        const ssize_t n = ::getrandom(p, size, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // No system randomness at all: fall back to the library's device
            // rather than hand out predictable zeros.
            std::random_device device;
            for (; size > 0; --size)
                *p++ = static_cast<std::uint8_t>(device());
            return;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::string randomHex(std::size_t bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string raw(bytes, '\0');
    systemRandom(raw.data(), raw.size());
    std::string out;
    out.reserve(bytes * 2);
    for (unsigned char c : raw) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

CallNumbers::CallNumbers()
{
    std::array<std::uint32_t, std::mt19937::state_size> seed;
    systemRandom(seed.data(), sizeof seed);
    std::seed_seq seq(seed.begin(), seed.end());
    random_.seed(seq);
}

ReplyLimiter::ReplyLimiter() : ReplyLimiter(Options{}) {}

ReplyLimiter::ReplyLimiter(Options options) : options_(options)
{
    systemRandom(&salt_, sizeof salt_);
}

bool ReplyLimiter::take(Bucket &b, double rate, double burst, std::uint64_t nowMs)
{
    if (!b.used) {
        b.used = true;
        b.tokens = burst;
        b.at = nowMs;
    }
    if (nowMs > b.at) {
        b.tokens = std::min(burst, b.tokens + rate * double(nowMs - b.at) / 1000.0);
        b.at = nowMs;
    }
    if (b.tokens < 1.0)
        return false;
    b.tokens -= 1.0;
    return true;
}

bool ReplyLimiter::allow(const Address &from, std::uint64_t nowMs)
{
    // The host, not its port: a flood from many ports of one host is one source.
    std::uint32_t h = salt_ ^ static_cast<std::uint32_t>(from.family);
    for (std::uint8_t byte : from.bytes)
        h = (h ^ byte) * 16777619u;
    Bucket &host = hosts_[h % hosts_.size()];
    // Refill both before deciding, so a host's refusal spends nothing of the total.
    Bucket probe = host;
    if (!take(probe, options_.perHostPerSecond, options_.perHostBurst, nowMs)) {
        host = probe;
        return false;
    }
    if (!take(total_, options_.totalPerSecond, options_.totalBurst, nowMs))
        return false;
    host = probe;
    return true;
}

} // namespace iax2
