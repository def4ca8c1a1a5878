// The receiving side's adaptive jitter buffer. Frames go in keyed by the
// sender's timestamp as they arrive; the playout clock takes one frame per
// period and gets a frame, a gap to conceal, or nothing while idle. The
// buffer's delay follows the measured spread of transit times, growing by a
// concealed frame and shrinking by a skipped one, which also absorbs the
// drift between the sender's clock and ours. Spare delay of less than a
// period is offered to the player to cut out of a frame, so that after a
// stall the delay comes back to the floor rather than to within a period of
// it. Time is passed in, so it is tested without waiting.
#pragma once

#include "receiver_report.h"

#include <cstdint>
#include <deque>
#include <map>
#include <vector>

namespace media {

struct JitterBufferOptions {
    std::uint32_t frameMs = 20;
    std::uint32_t minDelayMs = 10;    // even a clean network leaves some slack for scheduling
    std::uint32_t maxDelayMs = 400;   // beyond this, voice is too late to be worth waiting for
    std::size_t maxFrames = 64;
    std::size_t historyPackets = 100; // two seconds of transit times to judge the spread
    std::uint32_t spreadQuantile = 97; // percent of packets that must be on time
    std::uint32_t shrinkPeriods = 25;  // half a second with a period to spare before one is dropped
    std::uint32_t minTrimMs = 4;       // less spare than this is not worth a cut in the sound
};

class JitterBuffer {
public:
    using Bytes = std::vector<std::uint8_t>;

    explicit JitterBuffer(JitterBufferOptions options = {});

    void put(std::uint32_t timestamp, Bytes frame, std::uint64_t nowMs);

    struct Output {
        enum class Kind { Frame, Conceal, Idle };
        Kind kind = Kind::Idle;
        Bytes frame;
        // How much of the frame's start may be left out to bring the delay
        // down; the player that does so asks for the next frame that much
        // sooner, and the buffer sees the delay fall from its clock alone.
        std::uint32_t trimMs = 0;
    };
    // One playout period, for a frame that starts playing at nowMs.
    Output get(std::uint64_t nowMs);

    std::uint32_t delayMs() const { return delay_; }
    std::uint32_t targetMs() const { return target_; }
    iax2::ReceiverReport report() const { return stats_.report(delay_); }
    std::size_t buffered() const { return frames_.size(); }

    // Counters of what playout did, for measurements.
    struct Playout {
        std::uint64_t frames = 0;    // real frames played
        std::uint64_t concealed = 0; // periods filled in while playing
        std::uint64_t late = 0;      // arrived after their turn
        std::uint64_t skipped = 0;   // dropped to shrink the delay
        std::uint64_t trimmedMs = 0; // offered to the speaker to leave out, to shrink it
    };
    const Playout &playout() const { return playout_; }

private:
    void restart();
    void noteTransit(std::int64_t transit);
    void retarget();
    // How long after the fastest possible arrival the next frame plays.
    std::int64_t delayOverFastest(std::uint64_t nowMs) const;
    // How long after a slow arrival (the spread's quantile) it plays.
    std::int64_t margin(std::uint64_t nowMs) const;
    // Notes a played period's margin; once a stretch is over, what of the
    // least margin was more than wanted (0 until then).
    std::int64_t spareMs(std::int64_t margin);
    std::map<std::int64_t, Bytes>::iterator frameAt(std::int64_t ts);

    JitterBufferOptions options_;
    iax2::ReceptionStats stats_;
    std::map<std::int64_t, Bytes> frames_;
    std::deque<std::int64_t> transits_;
    std::int64_t minTransit_ = 0;
    std::int64_t slowTransit_ = 0;
    std::int64_t wantedMargin_ = 0;
    std::uint32_t target_;
    std::uint32_t delay_ = 0;
    bool playing_ = false;
    std::int64_t nextTs_ = 0;
    std::uint32_t missingInRow_ = 0;
    // The least margin of the periods played since the last look at
    // shrinking: only a whole stretch with a period to spare gives one up.
    std::int64_t leastMargin_ = 0;
    std::uint32_t marginPeriods_ = 0;
    Playout playout_;
};

} // namespace media
