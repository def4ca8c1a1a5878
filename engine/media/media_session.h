// One call's media between the devices and the network thread: the capture
// stream feeds the send path, the playback stream drains the receive path.
// Owns the choice of devices, switches them during a call, and falls back to
// the built-in devices when a device cannot be opened or stops working.
#pragma once

#include "device_registry.h"
#include "receive_path.h"
#include "send_path.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace media {

// Whether echo cancellation and noise suppression run: always, never, or
// (Auto) when there is a real microphone, the only place they help. A file
// or silent microphone hears no speaker and no room.
enum class ProcessingMode { Auto, On, Off };

class MediaSession {
public:
    struct Hooks {
        std::function<void()> captured;                       // a frame waits in takeCaptured()
        std::function<void(const std::string &)> notice;      // something the user should hear about
    };

    MediaSession(std::shared_ptr<const DeviceRegistry> registry, SteadyClock::time_point epoch, Hooks hooks);
    ~MediaSession();
    MediaSession(const MediaSession &) = delete;
    MediaSession &operator=(const MediaSession &) = delete;

    void setProcessing(ProcessingMode mode) { mode_ = mode; }
    void setSilenceThreshold(float db) { threshold_ = db; }
    // Muted, the send path encodes silence in place of the microphone, from its next period on.
    void setMuted(bool muted) { muted_ = muted; }

    // False for an identifier that names no device of that kind; that side
    // then uses its default device. Takes effect at once during a call.
    bool selectDevices(int input, int output);
    // The devices in use during a call, the chosen ones between calls.
    int input() const { return input_; }
    int output() const { return output_; }

    void start();
    void stop();
    bool running() const;
    // Replaces devices that stopped working by the built-in ones, for the
    // rest of the call: the next call tries the chosen devices again.
    void checkDevices();
    // A new device list. While stopped, chosen devices it lacks fall back to
    // its defaults; while running, it must hold the devices in use (open
    // streams never depend on the list), or it is refused.
    bool setRegistry(std::shared_ptr<const DeviceRegistry> registry);

    // The loudest period each way since the last call, in dB (-99: silence
    // or nothing ran): what a level meter shows.
    struct Levels {
        float input = -99.0f;
        float output = -99.0f;
    };
    Levels takeLevels();

    // Network thread.
    std::vector<SendPath::Frame> takeCaptured();
    std::uint32_t stamp(std::uint64_t sequence, std::uint32_t callNowMs) { return clock_.stamp(sequence, callNowMs); }
    void received(std::uint32_t timestamp, std::uint32_t format, const std::vector<std::uint8_t> &payload,
                  std::uint64_t nowMs);
    iax2::ReceiverReport report() const;
    JitterBuffer::Playout playout() const;
    // Times the speaker ran dry since start(), over every device it used.
    std::uint64_t underruns() const;

private:
    void openStreams();  // with control_ held
    void closeStreams(); // with control_ held
    Processing processingFor(int input, int output) const;

    std::shared_ptr<const DeviceRegistry> registry_;
    SteadyClock::time_point epoch_;
    Hooks hooks_;
    std::atomic<ProcessingMode> mode_{ProcessingMode::Auto};
    std::atomic<float> threshold_{-99.0f};
    std::atomic<bool> muted_{false};
    std::atomic<int> input_;
    std::atomic<int> output_;
    // What was chosen, kept while a call falls back from it.
    int chosenInput_;  // control_
    int chosenOutput_; // control_
    std::atomic<float> inputPeak_{-99.0f};
    std::atomic<float> outputPeak_{-99.0f};

    mutable std::mutex control_; // start, stop, switching
    bool running_ = false;
    std::unique_ptr<SendPath> send_;
    std::shared_ptr<ReceivePath> receive_; // shared: read by the network thread between calls too
    std::unique_ptr<AudioStream> captureStream_;
    std::unique_ptr<AudioStream> playbackStream_;
    std::uint64_t closedUnderruns_ = 0; // of the streams closed since start()
    VoiceClock clock_;

    std::mutex queueMutex_;
    std::vector<SendPath::Frame> queue_;
    mutable std::mutex receiveMutex_; // guards the receive_ pointer, not its contents
};

} // namespace media
