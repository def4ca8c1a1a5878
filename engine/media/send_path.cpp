#include "send_path.h"

#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

#include <cmath>
#include <cstdlib>
#include <new>

namespace media {

namespace {

// 40 ms of echo tail, two of our periods: what a headset or a laptop's own
// speaker sends back to its microphone arrives well within it. The canceller
// costs about a third less than with 128 ms; its cost per period hardly
// falls below this, whatever the tail.
constexpr int kEchoTailSamples = 2 * static_cast<int>(kFrameSamples);
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
    if (processing_.echoCancel) {
        echo_ = speex_echo_state_init(static_cast<int>(kFrameSamples), kEchoTailSamples);
        if (!echo_)
            throw std::bad_alloc();
        int rate = kSampleRate;
        speex_echo_ctl(echo_, SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
    }
    if (processing_.echoCancel || processing_.noiseSuppress) {
        preprocess_ = speex_preprocess_state_init(static_cast<int>(kFrameSamples), kSampleRate);
        if (!preprocess_) {
            if (echo_)
                speex_echo_state_destroy(echo_);
            throw std::bad_alloc();
        }
        int denoise = processing_.noiseSuppress ? 1 : 0;
        speex_preprocess_ctl(preprocess_, SPEEX_PREPROCESS_SET_DENOISE, &denoise);
        int off = 0;
        speex_preprocess_ctl(preprocess_, SPEEX_PREPROCESS_SET_AGC, &off);
        speex_preprocess_ctl(preprocess_, SPEEX_PREPROCESS_SET_DEREVERB, &off);
        if (echo_) // the residual echo left after the filter is suppressed here too
            speex_preprocess_ctl(preprocess_, SPEEX_PREPROCESS_SET_ECHO_STATE, echo_);
    }
}

SendPath::~SendPath()
{
    if (preprocess_)
        speex_preprocess_state_destroy(preprocess_);
    if (echo_)
        speex_echo_state_destroy(echo_);
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

SendPath::Frame SendPath::process(const std::int16_t (&mic)[kFrameSamples], bool muted)
{
    Frame frame;
    frame.sequence = sequence_++;
    if (muted) {
        // The echo canceller and the noise suppressor would only learn from
        // the silence; the speaker's reference is used up all the same, so
        // it stays in step with the microphone for the unmute.
        if (echo_) {
            std::lock_guard<std::mutex> lock(farEndMutex_);
            if (!farEnd_.empty())
                farEnd_.pop_front();
        }
        static const std::int16_t silence[kFrameSamples] = {};
        encoder_.encode(silence, frame.gsm);
        return frame;
    }
    std::int16_t clean[kFrameSamples];
    if (echo_) {
        std::array<std::int16_t, kFrameSamples> reference{};
        {
            std::lock_guard<std::mutex> lock(farEndMutex_);
            if (!farEnd_.empty()) {
                reference = farEnd_.front();
                farEnd_.pop_front();
            }
        }
        speex_echo_cancellation(echo_, mic, reference.data(), clean);
    } else {
        std::copy(std::begin(mic), std::end(mic), clean);
    }
    if (preprocess_)
        speex_preprocess_run(preprocess_, clean);
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
