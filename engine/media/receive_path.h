// The receiving half of the voice path: depacketize, jitter buffer, decode,
// conceal the gaps. Voice goes in from the network thread; the playback
// device takes one period at a time from its own thread.
#pragma once

#include "gsm_codec.h"
#include "jitter_buffer.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace media {

// Fills lost periods by replaying the last good one, fading out, so a single
// loss is a dip rather than a click, and a long one becomes silence.
class Concealer {
public:
    void good(const std::int16_t (&pcm)[kFrameSamples]);
    void conceal(std::int16_t (&pcm)[kFrameSamples]);

private:
    std::int16_t last_[kFrameSamples] = {};
    int missing_ = 0;
    static constexpr int kFadeFrames = 4;
};

class ReceivePath {
public:
    explicit ReceivePath(JitterBufferOptions options = {});

    // One voice payload as it came: any whole number of GSM frames.
    // False when it is not GSM or not whole frames (then nothing is kept).
    bool put(std::uint32_t timestamp, std::uint32_t format, const std::vector<std::uint8_t> &payload,
             std::uint64_t nowMs);
    // One period of playout at 8 kHz; silence, and false, while idle.
    // spare: how many samples at its start the player may leave out to
    // bring the delay down (see Period).
    bool pull(std::uint64_t nowMs, std::int16_t (&pcm)[kFrameSamples], std::size_t *spare = nullptr);

    iax2::ReceiverReport report() const;
    JitterBuffer::Playout playout() const;
    std::uint32_t delayMs() const;

private:
    mutable std::mutex mutex_;
    JitterBuffer buffer_;
    GsmDecoder decoder_;
    Concealer concealer_;
    std::uint64_t spareOfferedMs_ = 0;
};

} // namespace media
