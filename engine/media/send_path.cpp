#include "send_path.h"

#include <cmath>
#include <cstdlib>

namespace media {

namespace {

// At most this many periods of speaker audio wait for the microphone; more
// means the two devices run apart, and old reference is worthless.
constexpr std::size_t kMaxFarEnd = 10;

} // namespace

float levelDb(const std::int16_t (&pcm)[kFrameSamples])
{
    double energy = 0;
    for (auto s : pcm)
        energy += double(s) * s;
    const double rms = std::sqrt(energy / kFrameSamples);
    if (rms < 1.0)
        return -99.0f;
    return static_cast<float>(std::max(-99.0, 20.0 * std::log10(rms / 32768.0)));
}

SendPath::SendPath(Processing processing, std::uint64_t firstSequence)
    : processing_(processing), sequence_(firstSequence)
{
    if (processing_.echoCancel)
        echo_ = std::make_unique<EchoCanceller>();
    if (processing_.noiseSuppress)
        noise_ = std::make_unique<NoiseSuppressor>();
}

void SendPath::played(const std::int16_t (&pcm)[kFrameSamples])
{
    if (!echo_)
        return;
    std::lock_guard<std::mutex> lock(farEndMutex_);
    std::array<std::int16_t, kFrameSamples> copy;
    std::copy(std::begin(pcm), std::end(pcm), copy.begin());
    farEnd_.push_back(copy);
    while (farEnd_.size() > kMaxFarEnd)
        farEnd_.pop_front();
}

void SendPath::nextFarEnd(std::int16_t (&out)[kFrameSamples])
{
    std::lock_guard<std::mutex> lock(farEndMutex_);
    if (farEnd_.empty()) { // the speaker has not played: nothing to echo
        std::fill(std::begin(out), std::end(out), std::int16_t{0});
        return;
    }
    std::copy(farEnd_.front().begin(), farEnd_.front().end(), out);
    farEnd_.pop_front();
}

SendPath::Frame SendPath::process(const std::int16_t (&mic)[kFrameSamples], bool muted)
{
    Frame frame;
    frame.sequence = sequence_++;
    if (muted) {
        // The echo canceller and the noise suppressor would only learn from
        // the silence; the speaker's reference is used up all the same, and
        // the canceller's history follows it, so that both stay in step with
        // the microphone for the unmute.
        if (echo_) {
            std::int16_t reference[kFrameSamples];
            nextFarEnd(reference);
            echo_->skip(reference);
        }
        static const std::int16_t silence[kFrameSamples] = {};
        encoder_.encode(silence, frame.gsm);
        return frame;
    }
    std::int16_t clean[kFrameSamples];
    if (echo_) {
        std::int16_t reference[kFrameSamples];
        nextFarEnd(reference);
        echo_->process(mic, reference, clean);
    } else {
        std::copy(std::begin(mic), std::end(mic), clean);
    }
    if (noise_)
        noise_->process(clean);
    frame.levelDb = levelDb(clean);
    frame.silent = threshold_ > -99.0f && frame.levelDb < threshold_;
    if (!frame.silent)
        encoder_.encode(clean, frame.gsm);
    return frame;
}

std::uint32_t VoiceClock::stamp(std::uint64_t sequence, std::uint32_t callNowMs)
{
    std::int64_t ts = 0;
    if (started_) {
        ts = std::int64_t(baseTs_) + std::int64_t(sequence - baseSequence_) * kFrameMs;
        if (sequence < baseSequence_ || std::llabs(ts - std::int64_t(callNowMs)) > kMaxSkewMs)
            started_ = false;
    }
    if (!started_) {
        started_ = true;
        baseSequence_ = sequence;
        baseTs_ = callNowMs;
        ts = callNowMs;
    }
    // Timestamps only rise: the peer orders our voice by them.
    if (ts <= std::int64_t(last_) && last_ != 0)
        ts = std::int64_t(last_) + kFrameMs;
    last_ = static_cast<std::uint32_t>(ts);
    if (ts != std::int64_t(baseTs_) + std::int64_t(sequence - baseSequence_) * kFrameMs) {
        baseSequence_ = sequence;
        baseTs_ = last_;
    }
    return last_;
}

} // namespace media
