// Receiver reports: the figures one side keeps about the voice it receives
// (jitter, loss, packets, buffer delay, drops, reordering), how they travel
// as the information elements 46 to 51, and the bookkeeping that yields them.
#pragma once

#include "ie.h"

#include <cstdint>
#include <optional>
#include <set>

namespace iax2 {

struct ReceiverReport {
    std::uint32_t jitter = 0;      // ms
    std::uint32_t lossPercent = 0; // 0..100
    std::uint32_t lossCount = 0;   // 24 bits on the wire
    std::uint32_t packets = 0;
    std::uint32_t delay = 0;       // ms the receiver holds voice before playing it; 16 bits on the wire
    std::uint32_t dropped = 0;
    std::uint32_t outOfOrder = 0;
};

void appendReceiverReport(IeBuilder &ies, const ReceiverReport &report);
// Present when the list carries at least the packet count.
std::optional<ReceiverReport> readReceiverReport(const IeList &ies);

// Counts what arrives of a stream of fixed-length frames, keyed by timestamp.
class ReceptionStats {
public:
    enum class Arrival { InOrder, OutOfOrder, Duplicate };

    explicit ReceptionStats(std::uint32_t frameMs = 20) : frameMs_(frameMs) {}

    Arrival received(std::uint32_t timestamp, std::uint64_t arrivalMs);
    void countDropped(std::uint32_t frames = 1) { dropped_ += frames; }
    ReceiverReport report(std::uint32_t delayMs) const;

    std::uint32_t jitterMs() const { return static_cast<std::uint32_t>(jitter_ + 0.5); }
    std::uint32_t lost() const;

private:
    // Further than this from the newest timestamp is a jump of the sender's
    // clock (a restart, or one wild frame), not a late or early frame.
    static constexpr std::int64_t kJumpMs = 10000;

    std::uint32_t frameMs_;
    bool started_ = false;
    std::uint32_t lostBefore_ = 0;   // in the stretches before the last jump
    std::uint32_t uniqueBefore_ = 0;
    std::int64_t first_ = 0;
    std::int64_t highest_ = 0;
    std::int64_t lastTransit_ = 0;
    double jitter_ = 0;
    std::uint32_t unique_ = 0;
    std::uint32_t packets_ = 0;
    std::uint32_t dropped_ = 0;
    std::uint32_t outOfOrder_ = 0;
    std::set<std::int64_t> recent_; // timestamps seen lately, to tell repeats from news
};

} // namespace iax2
