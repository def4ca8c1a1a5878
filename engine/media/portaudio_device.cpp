#include "portaudio_device.h"

#include "realtime.h"

#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <glob.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#define ONDAVOX_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ONDAVOX_LEAK_CHECKED 1
#endif
#endif

namespace media {

namespace {

// PortAudio, and through it ALSA and JACK, is loaded when the cards are
// first listed rather than with the program: mapping and relocating the
// four libraries is a good part of what a start costs beyond the toolkit,
// and the first windows need none of them. Null when it cannot be loaded.
struct PortAudioLibrary {
    void *handle = nullptr;
    decltype(&Pa_Initialize) initialize = nullptr;
    decltype(&Pa_Terminate) terminate = nullptr;
    decltype(&Pa_GetErrorText) errorText = nullptr;
    decltype(&Pa_GetDeviceCount) deviceCount = nullptr;
    decltype(&Pa_GetDefaultInputDevice) defaultInput = nullptr;
    decltype(&Pa_GetDefaultOutputDevice) defaultOutput = nullptr;
    decltype(&Pa_GetDeviceInfo) deviceInfo = nullptr;
    decltype(&Pa_GetHostApiInfo) hostApiInfo = nullptr;
    decltype(&Pa_IsFormatSupported) isFormatSupported = nullptr;
    decltype(&Pa_OpenStream) openStream = nullptr;
    decltype(&Pa_StartStream) startStream = nullptr;
    decltype(&Pa_CloseStream) closeStream = nullptr;
    decltype(&Pa_IsStreamActive) isStreamActive = nullptr;
};

// Where PortAudio is mapped, to tell its calls into ALSA from others'.
std::atomic<const void *> portAudioBase{nullptr};

// Set on a PortAudio stream thread once it has handed us a period: from
// then on its stream has started.
thread_local bool streamThreadCalledBack = false;

template <typename Function>
bool resolve(void *handle, const char *name, Function &into)
{
    into = reinterpret_cast<Function>(::dlsym(handle, name));
    return into != nullptr;
}

const PortAudioLibrary *portAudio()
{
    static const PortAudioLibrary *const loaded = []() -> const PortAudioLibrary * {
        static PortAudioLibrary pa;
        // Kept for the life of the process: PortAudio's threads and ALSA's
        // plugins may outlive any one user of it.
        pa.handle = ::dlopen("libportaudio.so.2", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!pa.handle)
            return nullptr;
        const bool complete = resolve(pa.handle, "Pa_Initialize", pa.initialize)
                              && resolve(pa.handle, "Pa_Terminate", pa.terminate)
                              && resolve(pa.handle, "Pa_GetErrorText", pa.errorText)
                              && resolve(pa.handle, "Pa_GetDeviceCount", pa.deviceCount)
                              && resolve(pa.handle, "Pa_GetDefaultInputDevice", pa.defaultInput)
                              && resolve(pa.handle, "Pa_GetDefaultOutputDevice", pa.defaultOutput)
                              && resolve(pa.handle, "Pa_GetDeviceInfo", pa.deviceInfo)
                              && resolve(pa.handle, "Pa_GetHostApiInfo", pa.hostApiInfo)
                              && resolve(pa.handle, "Pa_IsFormatSupported", pa.isFormatSupported)
                              && resolve(pa.handle, "Pa_OpenStream", pa.openStream)
                              && resolve(pa.handle, "Pa_StartStream", pa.startStream)
                              && resolve(pa.handle, "Pa_CloseStream", pa.closeStream)
                              && resolve(pa.handle, "Pa_IsStreamActive", pa.isStreamActive);
        Dl_info where{};
        if (complete && ::dladdr(reinterpret_cast<void *>(pa.initialize), &where))
            portAudioBase = where.dli_fbase;
        return complete ? &pa : nullptr;
    }();
    return loaded;
}

// ALSA and JACK print pages of probing noise when a card or a server is
// missing, and a softphone's stderr is for the user's diagnostics. Both
// libraries hand their messages to a function that can be replaced: ours
// drops them. This mutes them alone, whatever thread probes, so the rest of
// the program's output is never lost meanwhile. They come in with
// PortAudio, so they are looked up among its libraries, not linked.
void dropAlsaMessage(const char *, int, const char *, int, const char *, ...) {}
void dropJackMessage(const char *) {}

void silenceSoundLibraries(void *portAudioHandle)
{
    static std::once_flag once;
    std::call_once(once, [portAudioHandle] {
        using AlsaHandler = void (*)(const char *, int, const char *, int, const char *, ...);
        using JackHandler = void (*)(const char *);
        if (void *set = ::dlsym(portAudioHandle, "snd_lib_error_set_handler"))
            reinterpret_cast<int (*)(AlsaHandler)>(set)(&dropAlsaMessage);
        for (const char *name : {"jack_set_error_function", "jack_set_info_function"}) {
            if (void *set = ::dlsym(portAudioHandle, name))
                reinterpret_cast<void (*)(JackHandler)>(set)(&dropJackMessage);
        }
    });
}

std::uint64_t msSince(SteadyClock::time_point epoch)
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - epoch).count());
}

} // namespace

#ifdef ONDAVOX_LEAK_CHECKED
// ALSA loads each of its plugins to probe it and unloads it at once; what a
// plugin's libraries keep in their own static data (the A52 encoder's codec
// library does) then looks lost to the leak checker, which can no longer see
// the unloaded data. In leak-checked builds the plugins stay loaded.
void keepSoundPluginsLoaded()
{
    static std::once_flag once;
    std::call_once(once, [] {
        glob_t found{};
        if (::glob("/usr/lib/*/alsa-lib/libasound_module_*.so", 0, nullptr, &found) == 0) {
            for (std::size_t i = 0; i < found.gl_pathc; ++i)
                ::dlopen(found.gl_pathv[i], RTLD_NOW | RTLD_NODELETE);
        }
        ::globfree(&found);
    });
}
#endif

namespace {

// Opening and closing streams edit PortAudio's list of open streams, and
// starting and ending PortAudio its count of users; neither has a lock of
// its own, and the engine lists cards, opens and closes streams on
// different threads. A stream whose device died can take PortAudio
// many seconds to close (a dead sound server leaves its thread spinning), so
// streams close on a thread of their own, and an open that cannot get the
// lock soon fails over to the built-in devices rather than stall the
// engine's thread, and with it the call's signalling.
std::timed_mutex &streamListMutex()
{
    static std::timed_mutex mutex;
    return mutex;
}

} // namespace

// How long starting or ending PortAudio, or opening a stream, waits for
// the sound system's lock.
constexpr auto kSoundSystemPatience = std::chrono::milliseconds(1500);

// PortAudio stays up while any device or stream of it is alive.
class PortAudioSystem {
public:
    PortAudioSystem() : pa_(portAudio()), ok_(start(pa_)) {}
    ~PortAudioSystem()
    {
        // Behind a close that never ends PortAudio stays up, rather than this thread waiting for good.
        if (ok_) {
            std::unique_lock<std::timed_mutex> lock(streamListMutex(), kSoundSystemPatience);
            if (lock.owns_lock())
                pa_->terminate();
        }
    }
    bool ok() const { return ok_; }
    // Valid while ok().
    const PortAudioLibrary &pa() const { return *pa_; }

private:
    static bool start(const PortAudioLibrary *pa)
    {
        if (!pa)
            return false;
#ifdef ONDAVOX_LEAK_CHECKED
        keepSoundPluginsLoaded();
#endif
        silenceSoundLibraries(pa->handle);
        // A stream whose sound server died may never finish closing (PortAudio's
        // thread spins on the dead connection): the cards are then not listed,
        // and the caller (the settings, at worst) goes on with the built-in devices.
        std::unique_lock<std::timed_mutex> lock(streamListMutex(), kSoundSystemPatience);
        return lock.owns_lock() && pa->initialize() == paNoError;
    }

    const PortAudioLibrary *pa_;
    bool ok_;
};

namespace {

// Streams carry 32-bit floats rather than 16-bit samples. At 8 kHz mono a
// sound server's ALSA plugin (PulseAudio's) counts its smallest period in
// bytes, 128 of them: 8 ms of 16-bit samples, but 4 ms of floats. So the
// server holds half as much of our voice in each direction; a card that has
// no floats gets them converted by PortAudio.
constexpr PaSampleFormat kSampleFormat = paFloat32;

// How much a stream keeps queued at the card or the sound server. The
// speaker's queue is all the delay the device adds to what we play, the
// microphone's is how long a period waits to be handed over; too little and
// a busy machine lets the speaker run dry. What the card calls its low
// latency is taken, but never less than this.
double suggestedLatency(double cardLow)
{
    return std::max(cardLow, 0.0087);
}

class PortAudioStream : public AudioStream {
public:
    PortAudioStream(std::shared_ptr<PortAudioSystem> system, SteadyClock::time_point epoch)
        : system_(std::move(system)), epoch_(epoch), link_(std::make_shared<Link>())
    {
        link_->owner = this;
    }
    ~PortAudioStream() override
    {
        // From here on no handler runs: a callback under way finishes first.
        {
            std::lock_guard<std::mutex> lock(link_->mutex);
            link_->owner = nullptr;
        }
        if (!stream_)
            return;
        // The link and the sound system stay until PortAudio has let go.
        std::thread([stream = stream_, link = link_, system = system_] {
            std::lock_guard<std::timed_mutex> lock(streamListMutex());
            system->pa().closeStream(stream);
        }).detach();
    }

    bool open(const PaStreamParameters *in, const PaStreamParameters *out, double rate, std::string *error)
    {
        std::unique_lock<std::timed_mutex> lock(streamListMutex(), kSoundSystemPatience);
        if (!lock.owns_lock()) {
            if (error)
                *error = "the sound system is still closing a device";
            return false;
        }
        const PortAudioLibrary &pa = system_->pa();
        PaError e = pa.openStream(&stream_, in, out, rate, paFramesPerBufferUnspecified, paNoFlag,
                                  &PortAudioStream::callback, link_.get());
        if (e == paNoError)
            e = pa.startStream(stream_);
        if (e != paNoError) {
            if (stream_)
                pa.closeStream(stream_);
            stream_ = nullptr;
            if (error)
                *error = pa.errorText(e);
            return false;
        }
        lastCallback_ = msSince(epoch_);
        return true;
    }

    bool failed() const override
    {
        // A card that is pulled out may stop calling back without a word: give it two seconds.
        return !stream_ || system_->pa().isStreamActive(stream_) != 1 || msSince(epoch_) - lastCallback_.load() > 2000;
    }

    std::uint64_t underruns() const override { return underruns_; }

    CaptureHandler capture;
    PlaybackHandler playback;
    std::unique_ptr<Resampler> resampler;
    int cardRate = kSampleRate;

private:
    // What PortAudio's thread reaches the stream through; it outlives the
    // stream until PortAudio has closed it.
    struct Link {
        std::mutex mutex;
        PortAudioStream *owner = nullptr;
    };

    static int callback(const void *input, void *output, unsigned long frames, const PaStreamCallbackTimeInfo *,
                        PaStreamCallbackFlags flags, void *data)
    {
        // PortAudio's thread is the sound card's clock: it must not wait for a core.
        static thread_local const bool raised = iax2net::enterRealtime();
        (void)raised;
        streamThreadCalledBack = true;
        auto *link = static_cast<Link *>(data);
        std::lock_guard<std::mutex> lock(link->mutex);
        auto *out = static_cast<float *>(output);
        if (!link->owner) {
            if (out)
                std::fill_n(out, frames, 0.0f);
            return paAbort; // closing
        }
        PortAudioStream &self = *link->owner;
        if (flags & paOutputUnderflow)
            ++self.underruns_;
        // Samples travel as floats (see kSampleFormat) and are 16-bit everywhere else.
        self.in16_.resize(input ? frames : 0);
        self.out16_.resize(out ? frames : 0);
        if (const auto *in = static_cast<const float *>(input)) {
            for (unsigned long i = 0; i < frames; ++i)
                self.in16_[i] = static_cast<std::int16_t>(std::lround(std::clamp(in[i], -1.0f, 1.0f) * 32767.0f));
        }
        self.run(input ? self.in16_.data() : nullptr, out ? self.out16_.data() : nullptr, frames);
        for (unsigned long i = 0; out && i < frames; ++i)
            out[i] = static_cast<float>(self.out16_[i]) / 32768.0f;
        return paContinue;
    }

    void run(const std::int16_t *in, std::int16_t *out, unsigned long frames)
    {
        lastCallback_ = msSince(epoch_);
        if (in && capture) {
            resampler->process(in, frames, pending_);
            std::size_t used = 0;
            while (pending_.size() - used >= kFrameSamples) {
                std::int16_t pcm[kFrameSamples];
                std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(used), kFrameSamples, pcm);
                capture(pcm);
                used += kFrameSamples;
            }
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
        }
        if (out && playback) {
            while (pending_.size() < frames) {
                std::int16_t pcm[kFrameSamples];
                const Period period = playback(pcm, msSince(epoch_));
                const std::size_t start = pending_.size();
                resampler->process(pcm, kFrameSamples, pending_);
                // Nothing to play: just this callback's share of the
                // silence, so that voice starts within a callback of being
                // due, not up to a whole period late.
                if (!period.voice && pending_.size() > frames)
                    pending_.resize(frames);
                else if (period.spare > 0)
                    leaveOut(start, period.spare, frames);
            }
            std::copy_n(pending_.begin(), frames, out);
            lastPlayed_ = out[frames - 1];
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(frames));
        }
    }

    // Leaves out the first samples of the period queued from start on, at
    // the card's rate, easing from the sample before the cut to the one
    // after it so that the cut does not click. The next period is then
    // asked for that much sooner: whole callbacks sooner, as the card asks
    // in callbacks, so only whole callbacks' worth is left out; more would
    // take the delay below what the jitter buffer wants.
    void leaveOut(std::size_t start, std::size_t spareAt8k, std::size_t callback)
    {
        const double perSample = double(cardRate) / kSampleRate;
        const std::size_t ramp = std::size_t(16 * perSample);
        const std::size_t count = std::size_t(double(spareAt8k) * perSample) / callback * callback;
        if (count == 0 || pending_.size() < start + count + ramp)
            return;
        const int before = start > 0 ? pending_[start - 1] : lastPlayed_;
        pending_.erase(pending_.begin() + std::ptrdiff_t(start), pending_.begin() + std::ptrdiff_t(start + count));
        for (std::size_t i = 0; i < ramp; ++i) {
            const int s = pending_[start + i];
            pending_[start + i] = static_cast<std::int16_t>(before + (s - before) * int(i + 1) / int(ramp + 1));
        }
    }

    std::shared_ptr<PortAudioSystem> system_;
    SteadyClock::time_point epoch_;
    std::shared_ptr<Link> link_;
    PaStream *stream_ = nullptr;
    std::atomic<std::uint64_t> lastCallback_{0};
    std::atomic<std::uint64_t> underruns_{0};
    std::vector<std::int16_t> pending_;
    std::int16_t lastPlayed_ = 0;
    std::vector<std::int16_t> in16_;
    std::vector<std::int16_t> out16_;
};

class PortAudioDevice : public AudioDevice {
public:
    PortAudioDevice(std::shared_ptr<PortAudioSystem> system, PaDeviceIndex index, const PaDeviceInfo &info)
        : system_(std::move(system)), index_(index), name_(info.name ? info.name : "Sound card"),
          record_(info.maxInputChannels > 0), play_(info.maxOutputChannels > 0),
          defaultRate_(info.defaultSampleRate), latencyIn_(suggestedLatency(info.defaultLowInputLatency)),
          latencyOut_(suggestedLatency(info.defaultLowOutputLatency))
    {
    }
    std::string name() const override { return name_; }
    bool canRecord() const override { return record_; }
    bool canPlay() const override { return play_; }

    std::unique_ptr<AudioStream> openCapture(CaptureHandler handler, SteadyClock::time_point epoch,
                                             std::string *error) override
    {
        if (!record_)
            return fail(error, name_ + " cannot record");
        PaStreamParameters p{index_, 1, kSampleFormat, latencyIn_, nullptr};
        const double rate = chooseRate(&p, nullptr);
        auto stream = std::make_unique<PortAudioStream>(system_, epoch);
        stream->capture = std::move(handler);
        stream->resampler = std::make_unique<Resampler>(static_cast<int>(rate), kSampleRate);
        if (!stream->open(&p, nullptr, rate, error))
            return nullptr;
        return stream;
    }

    std::unique_ptr<AudioStream> openPlayback(PlaybackHandler handler, SteadyClock::time_point epoch,
                                              std::string *error) override
    {
        if (!play_)
            return fail(error, name_ + " cannot play");
        PaStreamParameters p{index_, 1, kSampleFormat, latencyOut_, nullptr};
        const double rate = chooseRate(nullptr, &p);
        auto stream = std::make_unique<PortAudioStream>(system_, epoch);
        stream->playback = std::move(handler);
        stream->resampler = std::make_unique<Resampler>(kSampleRate, static_cast<int>(rate));
        stream->cardRate = static_cast<int>(rate);
        if (!stream->open(nullptr, &p, rate, error))
            return nullptr;
        return stream;
    }

private:
    static std::unique_ptr<AudioStream> fail(std::string *error, const std::string &why)
    {
        if (error)
            *error = why;
        return nullptr;
    }

    double chooseRate(const PaStreamParameters *in, const PaStreamParameters *out) const
    {
        // The card's own 8 kHz saves resampling; most only do 44.1 or 48.
        const bool native = system_->pa().isFormatSupported(in, out, kSampleRate) == paFormatIsSupported;
        return native || defaultRate_ < 8000 ? double(kSampleRate) : defaultRate_;
    }

    std::shared_ptr<PortAudioSystem> system_;
    PaDeviceIndex index_;
    std::string name_;
    bool record_;
    bool play_;
    double defaultRate_;
    double latencyIn_;
    double latencyOut_;
};

} // namespace

void prepareSoundCards()
{
    // JACK would otherwise try to start a server of its own.
    ::setenv("JACK_NO_START_SERVER", "1", 0);
}

std::vector<SoundCard> listSoundCards()
{
    prepareSoundCards(); // a no-op once done: the environment is only read
    auto system = std::make_shared<PortAudioSystem>();
    std::vector<SoundCard> cards;
    if (!system->ok())
        return cards;
    const PortAudioLibrary &pa = system->pa();
    const PaDeviceIndex count = pa.deviceCount();
    const PaDeviceIndex defaultIn = pa.defaultInput();
    const PaDeviceIndex defaultOut = pa.defaultOutput();
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo *info = pa.deviceInfo(i);
        if (!info || (info->maxInputChannels <= 0 && info->maxOutputChannels <= 0))
            continue;
        SoundCard card;
        card.device = std::make_shared<PortAudioDevice>(system, i, *info);
        const PaHostApiInfo *api = pa.hostApiInfo(info->hostApi);
        card.hostApi = api && api->name ? api->name : "";
        card.defaultInput = i == defaultIn;
        card.defaultOutput = i == defaultOut;
        cards.push_back(std::move(card));
    }
    return cards;
}

namespace {

template <typename Function>
Function alsaFunction(const char *name)
{
    void *library = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_NOLOAD);
    return library ? reinterpret_cast<Function>(::dlvsym(library, name, "ALSA_0.9")) : nullptr;
}

// True on PortAudio's stream thread, called from PortAudio itself: that
// thread is the one that runs with cancellation off here; a thread of the
// caller's own (blocking reads and writes, which the engine does not use)
// is left alone.
bool onPortAudioStreamThread(void *returnAddress)
{
    Dl_info caller{};
    if (!portAudioBase.load() || !::dladdr(returnAddress, &caller) || caller.dli_fbase != portAudioBase.load())
        return false;
    int state = PTHREAD_CANCEL_ENABLE;
    ::pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
    ::pthread_setcancelstate(state, nullptr);
    return state == PTHREAD_CANCEL_DISABLE;
}

// PortAudio 19.6's stream thread, as it starts, takes the lock that the
// thread starting the stream waits on, then prepares and starts the device.
// Should either fail (a sound server that died between the stream's open
// and its start), the thread ends still holding that lock, and the start
// waits for it for good: the engine's thread with it, and the sound
// system's lock behind that. So that failure is passed up as success. The
// stream then counts as started; its dead device fails its first poll
// (see below) or never calls back, and the engine gives it up as it gives
// up any device that dies.
int startingStreamCall(int (*alsa)(void *), void *pcm, void *returnAddress)
{
    if (!alsa)
        return -ENOSYS;
    const int result = alsa(pcm);
    if (result < 0 && !streamThreadCalledBack && onPortAudioStreamThread(returnAddress))
        return 0;
    return result;
}

} // namespace

// The program exports these functions so that PortAudio, opened later,
// binds to them; every other caller is passed straight through.

extern "C" __attribute__((visibility("default"))) int snd_pcm_prepare(void *pcm)
{
    static const auto alsa = alsaFunction<int (*)(void *)>("snd_pcm_prepare");
    return startingStreamCall(alsa, pcm, __builtin_return_address(0));
}

extern "C" __attribute__((visibility("default"))) int snd_pcm_start(void *pcm)
{
    static const auto alsa = alsaFunction<int (*)(void *)>("snd_pcm_start");
    return startingStreamCall(alsa, pcm, __builtin_return_address(0));
}

// PortAudio 19.6 (Debian 12's) has a stream thread that can never end. When
// its sound server dies, ALSA's pulse plugin fails every poll, and should the
// thread then find no direction ready while it still counts frames from
// before, its error path jumps back to itself: one core spins writing the
// same line to stderr, tens of megabytes a second, for the rest of the
// program's life, and closing the stream waits for it for good. Every such
// failure ends the thread anyway (PortAudio gives up the stream on it), so
// the thread ends right there, as a cancellation would, its own clean-up
// included.
extern "C" __attribute__((visibility("default"))) int
snd_pcm_poll_descriptors_revents(void *pcm, pollfd *fds, unsigned int count, unsigned short *revents)
{
    using Revents = int (*)(void *, pollfd *, unsigned int, unsigned short *);
    static const Revents alsa = alsaFunction<Revents>("snd_pcm_poll_descriptors_revents");
    if (!alsa)
        return -ENOSYS;
    const int result = alsa(pcm, fds, count, revents);
    if (result < 0 && onPortAudioStreamThread(__builtin_return_address(0)))
        ::pthread_exit(PTHREAD_CANCELED);
    return result;
}

} // namespace media
