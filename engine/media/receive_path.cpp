#include "receive_path.h"

#include "iax2_constants.h"

#include <algorithm>
#include <cstdlib>

namespace media {

void Concealer::good(const std::int16_t (&pcm)[kFrameSamples])
{
    std::copy(std::begin(pcm), std::end(pcm), last_);
    missing_ = 0;
}

void Concealer::conceal(std::int16_t (&pcm)[kFrameSamples])
{
    ++missing_;
    // Gain falls linearly across the frame from the level the previous one ended at.
    const double from = std::max(0.0, 1.0 - double(missing_ - 1) / kFadeFrames);
    const double to = std::max(0.0, 1.0 - double(missing_) / kFadeFrames);
    for (std::size_t i = 0; i < kFrameSamples; ++i) {
        const double g = from + (to - from) * double(i) / kFrameSamples;
        pcm[i] = static_cast<std::int16_t>(last_[i] * g);
    }
}

ReceivePath::ReceivePath(JitterBufferOptions options) : buffer_(options) {}

bool ReceivePath::put(std::uint32_t timestamp, std::uint32_t format, const std::vector<std::uint8_t> &payload,
                      std::uint64_t nowMs)
{
    if (format != iax2::format::Gsm || payload.empty() || payload.size() % kGsmFrameBytes != 0)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < payload.size() / kGsmFrameBytes; ++i) {
        const auto begin = payload.begin() + static_cast<std::ptrdiff_t>(i * kGsmFrameBytes);
        buffer_.put(timestamp + static_cast<std::uint32_t>(i * kFrameMs),
                    std::vector<std::uint8_t>(begin, begin + kGsmFrameBytes), nowMs);
    }
    return true;
}

namespace {

// Leaving samples out is a cut in the sound: it is offered only where the
// period is this quiet (about -30 dBFS), in a pause between words or under
// background noise.
constexpr int kQuietPeak = 1000;

} // namespace

bool ReceivePath::pull(std::uint64_t nowMs, std::int16_t (&pcm)[kFrameSamples], std::size_t *spare)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto out = buffer_.get(nowMs);
    if (spare)
        *spare = 0;
    switch (out.kind) {
    case JitterBuffer::Output::Kind::Frame:
        if (decoder_.decode(out.frame.data(), out.frame.size(), pcm))
            concealer_.good(pcm);
        else
            concealer_.conceal(pcm);
        break;
    case JitterBuffer::Output::Kind::Conceal:
        concealer_.conceal(pcm);
        break;
    case JitterBuffer::Output::Kind::Idle:
        std::fill(std::begin(pcm), std::end(pcm), std::int16_t{0});
        return false;
    }
    if (spare && out.trimMs > 0
        && std::all_of(std::begin(pcm), std::end(pcm), [](std::int16_t s) { return std::abs(s) < kQuietPeak; })) {
        *spare = std::size_t(out.trimMs) * kSampleRate / 1000;
        spareOfferedMs_ += out.trimMs;
    }
    return true;
}

iax2::ReceiverReport ReceivePath::report() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return buffer_.report();
}

JitterBuffer::Playout ReceivePath::playout() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    JitterBuffer::Playout playout = buffer_.playout();
    playout.trimmedMs = spareOfferedMs_;
    return playout;
}

std::uint32_t ReceivePath::delayMs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return buffer_.delayMs();
}

} // namespace media
