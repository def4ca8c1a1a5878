#include "receiver_report.h"

#include "iax2_constants.h"

#include <algorithm>
#include <cmath>

namespace iax2 {

void appendReceiverReport(IeBuilder &ies, const ReceiverReport &r)
{
    const std::uint32_t percent = std::min<std::uint32_t>(r.lossPercent, 100);
    const std::uint32_t count = std::min<std::uint32_t>(r.lossCount, 0xffffff);
    ies.u32(ie::RrJitter, r.jitter)
        .u32(ie::RrLoss, (percent << 24) | count)
        .u32(ie::RrPackets, r.packets)
        .u16(ie::RrDelay, static_cast<std::uint16_t>(std::min<std::uint32_t>(r.delay, 0xffff)))
        .u32(ie::RrDropped, r.dropped)
        .u32(ie::RrOutOfOrder, r.outOfOrder);
}

std::optional<ReceiverReport> readReceiverReport(const IeList &ies)
{
    const auto packets = ies.u32(ie::RrPackets);
    if (!packets)
        return std::nullopt;
    ReceiverReport r;
    r.packets = *packets;
    r.jitter = ies.u32(ie::RrJitter).value_or(0);
    const std::uint32_t loss = ies.u32(ie::RrLoss).value_or(0);
    r.lossPercent = std::min<std::uint32_t>(loss >> 24, 100);
    r.lossCount = loss & 0xffffff;
    r.delay = ies.u16(ie::RrDelay).value_or(0);
    r.dropped = ies.u32(ie::RrDropped).value_or(0);
    r.outOfOrder = ies.u32(ie::RrOutOfOrder).value_or(0);
    return r;
}

ReceptionStats::Arrival ReceptionStats::received(std::uint32_t timestamp, std::uint64_t arrivalMs)
{
    const std::int64_t ts = timestamp;
    const std::int64_t transit = static_cast<std::int64_t>(arrivalMs) - ts;
    ++packets_;
    if (!started_) {
        started_ = true;
        first_ = highest_ = ts;
        lastTransit_ = transit;
        ++unique_;
        recent_.insert(ts);
        return Arrival::InOrder;
    }
    if (ts > highest_ + kJumpMs || ts < highest_ - kJumpMs) {
        // Count on from here: measured against the old clock, every frame
        // from now on would look like an old repeat and never play.
        lostBefore_ += lost();
        uniqueBefore_ += unique_;
        first_ = highest_ = ts;
        lastTransit_ = transit;
        unique_ = 1;
        recent_.clear();
        recent_.insert(ts);
        return Arrival::InOrder;
    }
    if (recent_.count(ts) || ts < first_ || ts < highest_ - 2000)
        return Arrival::Duplicate; // too old to tell from a repeat: counted as one
    // Interarrival jitter, smoothed over sixteen packets as RTP receivers do.
    const double d = std::fabs(static_cast<double>(transit - lastTransit_));
    jitter_ += (d - jitter_) / 16.0;
    lastTransit_ = transit;
    ++unique_;
    recent_.insert(ts);
    // Two seconds of memory is plenty to recognise repeats of the network.
    while (!recent_.empty() && *recent_.begin() < std::max(highest_, ts) - 2000)
        recent_.erase(recent_.begin());
    if (ts < highest_) {
        ++outOfOrder_;
        return Arrival::OutOfOrder;
    }
    highest_ = ts;
    return Arrival::InOrder;
}

std::uint32_t ReceptionStats::lost() const
{
    if (!started_)
        return 0;
    const std::int64_t expected = (highest_ - first_ + frameMs_ / 2) / frameMs_ + 1;
    return lostBefore_ + static_cast<std::uint32_t>(std::max<std::int64_t>(0, expected - unique_));
}

ReceiverReport ReceptionStats::report(std::uint32_t delayMs) const
{
    ReceiverReport r;
    r.jitter = jitterMs();
    r.lossCount = lost();
    const std::uint32_t expected = uniqueBefore_ + unique_ + r.lossCount;
    r.lossPercent = expected ? (r.lossCount * 100 + expected / 2) / expected : 0;
    r.packets = packets_;
    r.delay = delayMs;
    r.dropped = dropped_;
    r.outOfOrder = outOfOrder_;
    return r;
}

} // namespace iax2
