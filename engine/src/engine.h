// The driver around the protocol core: one UDP socket, the processing thread
// that owns the core's timers and delivers events, and name resolution on
// short-lived threads so no caller ever waits for DNS.
#pragma once

#include "iaxclient.h"

#include "client.h"
#include "device_registry.h"
#include "media_session.h"
#include "udp_socket.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ondavox {

class Engine {
public:
    static Engine &instance();

    int initialize();
    void shutdown();
    int startThread();
    int stopThread();

    void setCallback(iaxc_event_callback_t callback) { callback_.store(callback); }
    void setFormats(int preferred, int allowed);
    void setSilenceThreshold(float threshold);

    int registerUser(const char *user, const char *pass, const char *host);
    int unregisterUser(int id);
    int call(const char *dest);
    void hangup();
    void sendDtmf(char digit);
    bool callIsEncrypted();
    int setMute(bool muted);
    int audioUnderruns();

    int audioDevicesGet(iaxc_audio_device **devs, int *count, int *input, int *output, int *ring);
    int audioDevicesSet(int input, int output, int ring);
    int refreshDevices();
    int setAudioTest(bool on);

private:
    // Answers of resolver threads. Shared with them, so a lookup that
    // finishes after shutdown writes into something that still exists.
    struct Mailbox {
        std::mutex mutex;
        std::vector<std::pair<std::uint64_t, std::optional<iax2::Address>>> answers;
        iax2net::Wakeup wakeup;
    };

    Engine() = default;
    std::uint64_t now() const;
    void run(unsigned generation);
    void pump(media::MediaSession &media, std::vector<iax2::Transmit> &transmits,
              std::vector<iax2::ClientEvent> &events);
    void deliver(const iax2::ClientEvent &event);
    void wake();
    // The processing thread's media duties, outside the core's lock.
    void syncMedia(media::MediaSession &media, bool voiceOn, std::uint64_t now);
    std::optional<iaxc_event> levels(media::MediaSession &media, std::uint64_t now);
    std::optional<iaxc_event> statistics(media::MediaSession &media, std::uint64_t now,
                                         std::vector<iax2::Transmit> &transmits);
    void notice(const std::string &text);
    void rebuildDeviceList();
    void addSoundCards(const std::shared_ptr<media::MediaSession> &session, bool cancelled);
    void wantCards();
    bool knownWithoutCards(int wanted, bool input) const;
    void settleWithoutCards();

    std::mutex lifecycle_; // initialize, shutdown, thread start and stop
    std::mutex mutex_;     // the core and the socket's state
    bool initialized_ = false;
    std::unique_ptr<iax2::Client> client_;
    iax2net::UdpSocket socket_;
    std::shared_ptr<Mailbox> mailbox_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<unsigned> generation_{0}; // a loop left running detached never outlives its turn
    std::atomic<iaxc_event_callback_t> callback_{nullptr};
    std::atomic<int> preferredFormat_{IAXC_FORMAT_GSM};
    std::atomic<int> allowedFormats_{IAXC_FORMAT_GSM};
    std::atomic<float> silenceThreshold_{-99.0f};
    std::atomic<int> lastRegistrationId_{0};
    std::atomic<bool> audioTest_{false};
    const std::chrono::steady_clock::time_point epoch_ = std::chrono::steady_clock::now();

    // Media, guarded by mediaMutex_. The processing thread holds its own
    // reference to the session, so a shutdown from inside a callback never
    // pulls it from under the loop. The device list outlives shutdown, so
    // names handed out stay readable until the next initialisation.
    std::mutex mediaMutex_;
    std::shared_ptr<media::DeviceRegistry> registry_;
    std::vector<iaxc_audio_device> deviceList_;
    std::shared_ptr<media::MediaSession> media_;
    int ringDevice_ = media::deviceid::DiscardingSpeaker;
    std::uint64_t nextStatsAt_ = 0;
    std::uint64_t nextLevelsAt_ = 0;
    bool callMedia_ = false; // the devices serve an answered call, not only a test

    // Asking PortAudio for the sound cards takes from tens of milliseconds
    // to seconds (ALSA loads and probes each of its plugins), so it runs on
    // a thread of its own that initialize() starts: the program's start
    // never waits for it. Nor does it share the processor with the start:
    // the thread waits kListingDelay before it looks, unless something
    // needs the cards sooner (the device list is asked for, a call or a
    // device test wants its devices), which cardsWanted_ tells it. Until the cards are in, the registry holds the
    // built-in and file devices, the device list is not handed out, and a
    // choice of devices waits in wanted_. Devices for a call or a test open
    // at once when the choice needs no card (a file device, a built-in one
    // chosen by id), otherwise as soon as the cards are in. Guarded by
    // mediaMutex_; the processing thread reads devicesSettled_ without it.
    struct Choice {
        int input = -1; // -1: the default device of that side
        int output = -1;
        int ring = -1;
    };
    std::thread lister_;
    bool listing_ = false;
    bool cardsWanted_ = false;
    bool listingCancelled_ = false;
    std::condition_variable cardsWantedChanged_;
    std::condition_variable listed_;
    Choice wanted_;
    std::atomic<bool> devicesSettled_{true};
    std::mutex noticeMutex_;
    std::vector<std::string> notices_;
};

} // namespace ondavox
