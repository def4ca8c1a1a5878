// Audio devices as the voice path sees them: 8 kHz mono, one 20 ms period at
// a time, delivered on the device's own thread. Besides the sound cards
// (portaudio_device.h): the built-in silent microphone and discarding
// speaker, which every machine has, and WAV files standing in for a
// microphone and a speaker, paced in real time as a device would be.
#pragma once

#include "gsm_codec.h"
#include "resampler.h"
#include "wav_file.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace media {

using SteadyClock = std::chrono::steady_clock;

using CaptureHandler = std::function<void(const std::int16_t (&)[kFrameSamples])>;
// What a period handed to the speaker holds.
struct Period {
    // False while there is nothing to play (the period is silence): a
    // device may then play only part of it and ask again sooner, so that
    // voice starts when it is due rather than up to a period later.
    bool voice = false;
    // Samples at its start that a device playing from a queue of its own
    // may leave out, asking for the next period that much sooner: the delay
    // comes down by less than a period where the jitter buffer has more in
    // hand than it needs. Only ever where the period is quiet.
    std::size_t spare = 0;
};
// deviceMs: when this period plays, in milliseconds since the engine's epoch.
using PlaybackHandler = std::function<Period(std::int16_t (&)[kFrameSamples], std::uint64_t deviceMs)>;

// A running stream; destroying it stops it, and no handler runs after that.
class AudioStream {
public:
    virtual ~AudioStream() = default;
    // The device stopped working (unplugged, disk full, driver error).
    virtual bool failed() const = 0;
    // Times a speaker ran dry since it opened: the card or the sound server
    // had nothing to play, an audible gap. Devices paced by our own clock never do.
    virtual std::uint64_t underruns() const { return 0; }
};

class AudioDevice {
public:
    virtual ~AudioDevice() = default;
    virtual std::string name() const = 0;
    virtual bool canRecord() const = 0;
    virtual bool canPlay() const = 0;
    // Nothing, with a reason, when the device cannot be opened.
    virtual std::unique_ptr<AudioStream> openCapture(CaptureHandler handler, SteadyClock::time_point epoch,
                                                     std::string *error) = 0;
    virtual std::unique_ptr<AudioStream> openPlayback(PlaybackHandler handler, SteadyClock::time_point epoch,
                                                      std::string *error) = 0;
};

// A thread that ticks every period on absolute deadlines, as a sound card's
// clock would; it keeps pace after a short stall and starts afresh after a long one.
class PacedStream : public AudioStream {
public:
    // tick gets the period's scheduled time (ms since epoch); false means the device failed.
    PacedStream(SteadyClock::time_point epoch, std::function<bool(std::uint64_t)> tick);
    ~PacedStream() override;
    bool failed() const override { return failed_; }

private:
    void run();

    SteadyClock::time_point epoch_;
    // The first period is due when the stream opens, not when its thread
    // first runs: streams opened together keep together on a busy machine.
    SteadyClock::time_point opened_ = SteadyClock::now();
    std::function<bool(std::uint64_t)> tick_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

class SilentMicrophone : public AudioDevice {
public:
    std::string name() const override { return "Silent microphone (built in)"; }
    bool canRecord() const override { return true; }
    bool canPlay() const override { return false; }
    std::unique_ptr<AudioStream> openCapture(CaptureHandler handler, SteadyClock::time_point epoch,
                                             std::string *error) override;
    std::unique_ptr<AudioStream> openPlayback(PlaybackHandler, SteadyClock::time_point, std::string *error) override;
};

class DiscardingSpeaker : public AudioDevice {
public:
    std::string name() const override { return "Discarding speaker (built in)"; }
    bool canRecord() const override { return false; }
    bool canPlay() const override { return true; }
    std::unique_ptr<AudioStream> openCapture(CaptureHandler, SteadyClock::time_point, std::string *error) override;
    std::unique_ptr<AudioStream> openPlayback(PlaybackHandler handler, SteadyClock::time_point epoch,
                                              std::string *error) override;
};

// Plays the file from its start each time it is opened, then silence.
class FileMicrophone : public AudioDevice {
public:
    explicit FileMicrophone(std::string path) : path_(std::move(path)) {}
    std::string name() const override { return "File microphone: " + path_; }
    bool canRecord() const override { return true; }
    bool canPlay() const override { return false; }
    std::unique_ptr<AudioStream> openCapture(CaptureHandler handler, SteadyClock::time_point epoch,
                                             std::string *error) override;
    std::unique_ptr<AudioStream> openPlayback(PlaybackHandler, SteadyClock::time_point, std::string *error) override;

private:
    std::string path_;
};

// Records into the file, emptied each time it is opened: 8 kHz mono 16-bit.
class FileSpeaker : public AudioDevice {
public:
    explicit FileSpeaker(std::string path) : path_(std::move(path)) {}
    std::string name() const override { return "File speaker: " + path_; }
    bool canRecord() const override { return false; }
    bool canPlay() const override { return true; }
    std::unique_ptr<AudioStream> openCapture(CaptureHandler, SteadyClock::time_point, std::string *error) override;
    std::unique_ptr<AudioStream> openPlayback(PlaybackHandler handler, SteadyClock::time_point epoch,
                                              std::string *error) override;

private:
    std::string path_;
};

} // namespace media
