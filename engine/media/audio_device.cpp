#include "audio_device.h"

#include "realtime.h"

#include <algorithm>

namespace media {

namespace {

constexpr auto kPeriod = std::chrono::milliseconds(kFrameMs);
constexpr auto kGiveUpCatchingUp = std::chrono::milliseconds(1000);

std::unique_ptr<AudioStream> cannot(std::string *error, const std::string &what)
{
    if (error)
        *error = what;
    return nullptr;
}

} // namespace

PacedStream::PacedStream(SteadyClock::time_point epoch, std::function<bool(std::uint64_t)> tick)
    : epoch_(epoch), tick_(std::move(tick)), thread_([this] { run(); })
{
}

PacedStream::~PacedStream()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void PacedStream::run()
{
    iax2net::enterRealtime();
    auto next = opened_;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (wake_.wait_until(lock, next, [this] { return stop_; }))
            break;
        lock.unlock();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - epoch_).count();
        const bool ok = tick_(static_cast<std::uint64_t>(std::max<std::int64_t>(0, ms)));
        lock.lock();
        if (!ok) {
            failed_ = true;
            break;
        }
        next += kPeriod;
        // After a long stall a card would have overrun: drop the lost time.
        if (SteadyClock::now() - next > kGiveUpCatchingUp)
            next = SteadyClock::now();
    }
}

std::unique_ptr<AudioStream> SilentMicrophone::openCapture(CaptureHandler handler, SteadyClock::time_point epoch,
                                                           std::string *)
{
    return std::make_unique<PacedStream>(epoch, [handler = std::move(handler)](std::uint64_t) {
        static const std::int16_t silence[kFrameSamples] = {};
        handler(silence);
        return true;
    });
}

std::unique_ptr<AudioStream> SilentMicrophone::openPlayback(PlaybackHandler, SteadyClock::time_point,
                                                            std::string *error)
{
    return cannot(error, name() + " cannot play");
}

std::unique_ptr<AudioStream> DiscardingSpeaker::openCapture(CaptureHandler, SteadyClock::time_point, std::string *error)
{
    return cannot(error, name() + " cannot record");
}

std::unique_ptr<AudioStream> DiscardingSpeaker::openPlayback(PlaybackHandler handler, SteadyClock::time_point epoch,
                                                             std::string *)
{
    return std::make_unique<PacedStream>(epoch, [handler = std::move(handler)](std::uint64_t ms) {
        std::int16_t pcm[kFrameSamples];
        handler(pcm, ms);
        return true;
    });
}

std::unique_ptr<AudioStream> FileMicrophone::openCapture(CaptureHandler handler, SteadyClock::time_point epoch,
                                                         std::string *error)
{
    PcmAudio audio;
    if (!readWav(path_, &audio, error))
        return nullptr;
    auto samples = std::make_shared<std::vector<std::int16_t>>();
    Resampler(audio.sampleRate, kSampleRate).process(audio.samples.data(), audio.samples.size(), *samples);
    auto position = std::make_shared<std::size_t>(0);
    return std::make_unique<PacedStream>(epoch, [handler = std::move(handler), samples, position](std::uint64_t) {
        std::int16_t pcm[kFrameSamples] = {};
        const std::size_t n = std::min(kFrameSamples, samples->size() - std::min(*position, samples->size()));
        std::copy_n(samples->begin() + static_cast<std::ptrdiff_t>(*position), n, pcm);
        *position += n;
        handler(pcm);
        return true;
    });
}

std::unique_ptr<AudioStream> FileMicrophone::openPlayback(PlaybackHandler, SteadyClock::time_point, std::string *error)
{
    return cannot(error, name() + " cannot play");
}

std::unique_ptr<AudioStream> FileSpeaker::openCapture(CaptureHandler, SteadyClock::time_point, std::string *error)
{
    return cannot(error, name() + " cannot record");
}

std::unique_ptr<AudioStream> FileSpeaker::openPlayback(PlaybackHandler handler, SteadyClock::time_point epoch,
                                                       std::string *error)
{
    auto writer = std::make_shared<WavWriter>();
    if (!writer->open(path_, kSampleRate, error))
        return nullptr;
    auto periods = std::make_shared<unsigned>(0);
    return std::make_unique<PacedStream>(epoch, [handler = std::move(handler), writer, periods](std::uint64_t ms) {
        std::int16_t pcm[kFrameSamples];
        handler(pcm, ms);
        if (!writer->append(pcm, kFrameSamples))
            return false;
        // Once a second the header is brought up to date, so the file can be read during the call.
        return ++*periods % 50 != 0 || writer->finish();
    });
}

} // namespace media
