#include "jitter_buffer.h"

#include <algorithm>
#include <cstdlib>

namespace media {

JitterBuffer::JitterBuffer(JitterBufferOptions options)
    : options_(options), stats_(options.frameMs), target_(options.minDelayMs)
{
}

void JitterBuffer::restart()
{
    frames_.clear();
    transits_.clear();
    playing_ = false;
    missingInRow_ = 0;
    marginPeriods_ = 0;
}

void JitterBuffer::noteTransit(std::int64_t transit)
{
    // A sender that restarted its clock, or a long pause in a drifting
    // stream, moves every transit time at once: judge afresh from here.
    if (!transits_.empty() && std::llabs(transit - minTransit_) > std::int64_t(options_.maxDelayMs) * 4)
        restart();
    transits_.push_back(transit);
    if (transits_.size() > options_.historyPackets)
        transits_.pop_front();
    minTransit_ = *std::min_element(transits_.begin(), transits_.end());
    retarget();
}

void JitterBuffer::retarget()
{
    // Playout is steered by a slow arrival rather than by the fastest one:
    // when the sender's clock is slower than ours, transit times creep up,
    // and the quantile follows at once where the minimum would lag the
    // whole history behind and let every frame come too late.
    std::vector<std::int64_t> spread(transits_.begin(), transits_.end());
    const std::size_t k = (spread.size() - 1) * options_.spreadQuantile / 100;
    std::nth_element(spread.begin(), spread.begin() + static_cast<std::ptrdiff_t>(k), spread.end());
    slowTransit_ = spread[k];
    const std::int64_t spreadMs = slowTransit_ - minTransit_;
    wantedMargin_ = std::max<std::int64_t>(5, std::int64_t(options_.minDelayMs) - spreadMs);
    target_ = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(spreadMs + wantedMargin_, options_.minDelayMs, options_.maxDelayMs));
}

std::int64_t JitterBuffer::delayOverFastest(std::uint64_t nowMs) const
{
    return static_cast<std::int64_t>(nowMs) - nextTs_ - minTransit_;
}

std::int64_t JitterBuffer::margin(std::uint64_t nowMs) const
{
    return static_cast<std::int64_t>(nowMs) - nextTs_ - slowTransit_;
}

std::int64_t JitterBuffer::spareMs(std::int64_t margin)
{
    // One late playout wakeup or one early arrival says little; the least
    // margin over the stretch says what could be given up without a frame
    // coming too late. On a clean network this brings the delay down to
    // its floor, on a jittery one it leaves what the jitter needs.
    leastMargin_ = marginPeriods_ == 0 ? margin : std::min(leastMargin_, margin);
    if (++marginPeriods_ < options_.shrinkPeriods)
        return 0;
    marginPeriods_ = 0;
    return std::max<std::int64_t>(0, leastMargin_ - wantedMargin_);
}

std::map<std::int64_t, JitterBuffer::Bytes>::iterator JitterBuffer::frameAt(std::int64_t ts)
{
    // Senders may put a frame a few milliseconds off the grid after resynchronising.
    const std::int64_t half = options_.frameMs / 2;
    auto it = frames_.lower_bound(ts - half);
    if (it != frames_.end() && it->first < ts + half)
        return it;
    return frames_.end();
}

void JitterBuffer::put(std::uint32_t timestamp, Bytes frame, std::uint64_t nowMs)
{
    const std::int64_t ts = timestamp;
    const auto arrival = stats_.received(timestamp, nowMs);
    if (arrival == iax2::ReceptionStats::Arrival::Duplicate)
        return;
    noteTransit(static_cast<std::int64_t>(nowMs) - ts);
    if (playing_ && ts < nextTs_ - std::int64_t(options_.frameMs / 2)) {
        ++playout_.late;
        stats_.countDropped();
        return;
    }
    frames_[ts] = std::move(frame);
    while (frames_.size() > options_.maxFrames) {
        frames_.erase(frames_.begin());
        stats_.countDropped();
    }
}

JitterBuffer::Output JitterBuffer::get(std::uint64_t nowMs)
{
    Output out;
    const std::int64_t frameMs = options_.frameMs;
    if (!playing_) {
        if (frames_.empty())
            return out;
        nextTs_ = frames_.begin()->first;
        if (margin(nowMs) < wantedMargin_)
            return out; // still filling
        playing_ = true;
        marginPeriods_ = 0;
    }
    if (delayOverFastest(nowMs) > std::int64_t(options_.maxDelayMs) + frameMs) {
        // Far behind (a long gap, a jump in the sender's clock): play from what is due now.
        const std::int64_t due = static_cast<std::int64_t>(nowMs) - slowTransit_ - wantedMargin_;
        auto it = frames_.lower_bound(due - frameMs / 2);
        nextTs_ = it != frames_.end() ? it->first : due;
        for (auto old = frames_.begin(); old != it;) {
            old = frames_.erase(old);
            ++playout_.skipped;
            stats_.countDropped();
        }
    }
    auto it = frameAt(nextTs_);
    if (it == frames_.end() && margin(nowMs) < wantedMargin_) {
        // Too little in hand and the frame is not here: wait one period for it.
        out.kind = Output::Kind::Conceal;
        ++playout_.concealed;
        delay_ = static_cast<std::uint32_t>(std::max<std::int64_t>(0, delayOverFastest(nowMs)));
        return out;
    }
    const std::int64_t spare = spareMs(margin(nowMs));
    if (spare >= frameMs) {
        // A whole stretch with more in hand than the network needs: skip
        // one frame, and the delay comes down by a period.
        if (it != frames_.end()) {
            frames_.erase(it);
            stats_.countDropped();
        }
        ++playout_.skipped;
        nextTs_ += frameMs;
        it = frameAt(nextTs_);
    }
    delay_ = static_cast<std::uint32_t>(std::max<std::int64_t>(0, delayOverFastest(nowMs)));
    // Whatever is older than the frame due now will never play.
    while (!frames_.empty() && frames_.begin()->first < nextTs_ - frameMs / 2) {
        frames_.erase(frames_.begin());
        ++playout_.late;
        stats_.countDropped();
    }
    if (it != frames_.end()) {
        // Less than a period to spare is offered to the player, but never
        // below the floor the delay keeps for scheduling.
        const std::int64_t trim =
            std::min(spare, static_cast<std::int64_t>(delay_) - std::int64_t(options_.minDelayMs));
        nextTs_ = it->first + frameMs;
        out.kind = Output::Kind::Frame;
        out.frame = std::move(it->second);
        if (trim >= std::int64_t(options_.minTrimMs) && spare < frameMs)
            out.trimMs = static_cast<std::uint32_t>(trim);
        frames_.erase(it);
        ++playout_.frames;
        missingInRow_ = 0;
        return out;
    }
    nextTs_ += frameMs;
    ++missingInRow_;
    if (frames_.empty() && missingInRow_ * options_.frameMs > options_.maxDelayMs) {
        // The sender fell silent: stop and fill up again when it speaks.
        playing_ = false;
        missingInRow_ = 0;
        return out;
    }
    out.kind = Output::Kind::Conceal;
    ++playout_.concealed;
    return out;
}

} // namespace media
