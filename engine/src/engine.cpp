#include "engine.h"

#include "portaudio_device.h"
#include "realtime.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace ondavox {

static_assert(IAXC_CALL_STATE_ACTIVE == iax2::callstate::Active, "state bits must match");
static_assert(IAXC_CALL_STATE_OUTGOING == iax2::callstate::Outgoing, "state bits must match");
static_assert(IAXC_CALL_STATE_RINGING == iax2::callstate::Ringing, "state bits must match");
static_assert(IAXC_CALL_STATE_COMPLETE == iax2::callstate::Complete, "state bits must match");
static_assert(IAXC_CALL_STATE_SELECTED == iax2::callstate::Selected, "state bits must match");
static_assert(IAXC_CALL_STATE_BUSY == iax2::callstate::Busy, "state bits must match");
static_assert(IAXC_REGISTRATION_REPLY_ACK == int(iax2::RegistrationReply::Accepted), "replies must match");
static_assert(IAXC_REGISTRATION_REPLY_REJ == int(iax2::RegistrationReply::Rejected), "replies must match");
static_assert(IAXC_REGISTRATION_REPLY_TIMEOUT == int(iax2::RegistrationReply::Timeout), "replies must match");

namespace {

void copyText(char (&dest)[IAXC_EVENT_BUFSIZ], const std::string &src)
{
    const std::size_t n = std::min(src.size(), sizeof dest - 1);
    std::memcpy(dest, src.data(), n);
    dest[n] = '\0';
}

constexpr std::uint64_t kStatisticsIntervalMs = 1000;
constexpr std::uint64_t kLevelsIntervalMs = 100; // a level meter's pace
constexpr std::uint64_t kFarewellWaitMs = 1000;
// Long enough for a program's first windows to be drawn, short enough that
// the cards are in before anyone opens the settings or places a call.
constexpr auto kListingDelay = std::chrono::milliseconds(1000);

media::ProcessingMode processingFromEnvironment()
{
    // For measurements and for users whose sound card does its own processing.
    const char *value = std::getenv("ONDAVOX_AUDIO_PROCESSING");
    if (!value)
        return media::ProcessingMode::Auto;
    const std::string v = value;
    if (v == "1" || v == "on")
        return media::ProcessingMode::On;
    if (v == "0" || v == "off")
        return media::ProcessingMode::Off;
    return media::ProcessingMode::Auto;
}

} // namespace

Engine &Engine::instance()
{
    // Never destroyed: the program may still call in while the process exits.
    static Engine *engine = new Engine;
    return *engine;
}

std::uint64_t Engine::now() const
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - epoch_).count());
}

int Engine::initialize()
{
    std::lock_guard<std::mutex> life(lifecycle_);
    if (initialized_)
        return 0; // a new main window after logout initialises again
    std::lock_guard<std::mutex> lock(mutex_);
    std::string error;
    if (!socket_.open(std::string(), 0, &error))
        return -1;
    client_ = std::make_unique<iax2::Client>();
    mailbox_ = std::make_shared<Mailbox>();
    auto registry = std::make_shared<media::DeviceRegistry>();
    registry->rebuild(false); // the sound cards follow, from the lister thread
    media::MediaSession::Hooks hooks;
    hooks.captured = [mailbox = mailbox_] { mailbox->wakeup.poke(); };
    hooks.notice = [this](const std::string &text) { notice(text); };
    auto session = std::make_shared<media::MediaSession>(registry, epoch_, std::move(hooks));
    session->setProcessing(processingFromEnvironment());
    session->setSilenceThreshold(silenceThreshold_);
    {
        std::lock_guard<std::mutex> media(mediaMutex_);
        registry_ = registry;
        rebuildDeviceList();
        media_ = session;
        ringDevice_ = registry_->defaultOutput();
        wanted_ = Choice();
        listing_ = true;
        cardsWanted_ = false;
        listingCancelled_ = false;
        settleWithoutCards();
    }
    initialized_ = true;
    media::prepareSoundCards();
    try {
        lister_ = std::thread([this, session] {
            // Background work: the window being drawn and the voice of a call come first.
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
            bool cancelled = false;
            {
                std::unique_lock<std::mutex> waiting(mediaMutex_);
                cardsWantedChanged_.wait_for(waiting, kListingDelay,
                                             [this] { return cardsWanted_ || listingCancelled_; });
                cancelled = listingCancelled_;
            }
            addSoundCards(session, cancelled);
        });
    } catch (const std::system_error &) {
        addSoundCards(session, false); // no thread to be had: list them here and now
    }
    return 0;
}

void Engine::wantCards()
{
    std::lock_guard<std::mutex> lock(mediaMutex_);
    cardsWanted_ = true;
    cardsWantedChanged_.notify_all();
}

void Engine::addSoundCards(const std::shared_ptr<media::MediaSession> &session, bool cancelled)
{
    auto cards = std::make_shared<media::DeviceRegistry>();
    if (!cancelled) // shutting down before anything needed the cards: no need to wake the sound system
        cards->rebuild(true);
    {
        std::lock_guard<std::mutex> lock(mediaMutex_);
        // Devices open meanwhile are built-in or file devices, which the new list has too.
        if (!cancelled && media_ == session && session->setRegistry(cards)) {
            registry_ = cards;
            rebuildDeviceList();
            // A stored card chosen meanwhile is known now; a choice it lacks, or none, is the default.
            session->selectDevices(wanted_.input >= 0 ? wanted_.input : cards->defaultInput(),
                                   wanted_.output >= 0 ? wanted_.output : cards->defaultOutput());
            const media::DeviceEntry *ring = cards->find(wanted_.ring);
            ringDevice_ = ring && ring->canPlay ? wanted_.ring : cards->defaultOutput();
        }
        listing_ = false;
        devicesSettled_ = true;
    }
    listed_.notify_all();
    wake(); // a call or a device test that waits for its devices opens them now
}

bool Engine::knownWithoutCards(int wanted, bool input) const
{
    // Called with mediaMutex_ held while the cards are being listed.
    if (wanted >= 0) {
        const media::DeviceEntry *e = registry_->find(wanted); // a card is not in it yet
        return e && (input ? e->canRecord : e->canPlay);
    }
    // A file device from the environment stays the default whatever cards there are.
    return input ? registry_->defaultInput() == media::deviceid::FileMicrophone
                 : registry_->defaultOutput() == media::deviceid::FileSpeaker;
}

void Engine::settleWithoutCards()
{
    // Called with mediaMutex_ held while the cards are being listed.
    const bool settled = knownWithoutCards(wanted_.input, true) && knownWithoutCards(wanted_.output, false);
    if (settled)
        media_->selectDevices(wanted_.input >= 0 ? wanted_.input : registry_->defaultInput(),
                              wanted_.output >= 0 ? wanted_.output : registry_->defaultOutput());
    devicesSettled_ = settled;
}

void Engine::rebuildDeviceList()
{
    // Called with mediaMutex_ held.
    deviceList_.clear();
    for (const auto &e : registry_->entries()) {
        iaxc_audio_device d;
        d.name = e.name.c_str();
        d.devID = e.id;
        d.capabilities = 0;
        if (e.canRecord)
            d.capabilities |= IAXC_AD_INPUT | (e.id == registry_->defaultInput() ? IAXC_AD_INPUT_DEFAULT : 0);
        if (e.canPlay)
            d.capabilities |= IAXC_AD_OUTPUT | IAXC_AD_RING
                              | (e.id == registry_->defaultOutput() ? IAXC_AD_OUTPUT_DEFAULT | IAXC_AD_RING_DEFAULT : 0);
        deviceList_.push_back(d);
    }
}

void Engine::setSilenceThreshold(float threshold)
{
    silenceThreshold_.store(threshold);
    std::lock_guard<std::mutex> lock(mediaMutex_);
    if (media_)
        media_->setSilenceThreshold(threshold);
}

void Engine::notice(const std::string &text)
{
    std::lock_guard<std::mutex> lock(noticeMutex_);
    notices_.push_back(text);
}

void Engine::shutdown()
{
    stopThread();
    std::lock_guard<std::mutex> life(lifecycle_);
    {
        std::lock_guard<std::mutex> lock(mediaMutex_);
        listingCancelled_ = true;
        cardsWantedChanged_.notify_all();
    }
    if (lister_.joinable())
        lister_.join();
    std::shared_ptr<media::MediaSession> session;
    {
        std::lock_guard<std::mutex> media(mediaMutex_);
        session = std::move(media_);
    }
    session.reset(); // the devices stop here, unless a loop left running detached still holds it
    std::lock_guard<std::mutex> lock(mutex_);
    if (client_ && socket_.isOpen()) {
        // A call left open would go on being charged until the server gave up on us,
        // and a registration left in place would have it route calls to a closed port.
        client_->hangup(now());
        client_->removeAllRegistrations(now());
        // Wait a moment for the server to take both (a REGREL is a few round trips).
        const std::uint64_t giveUpAt = now() + kFarewellWaitMs;
        std::vector<std::uint8_t> buffer;
        for (;;) {
            for (const auto &tx : client_->takeTransmits())
                socket_.sendTo(tx.to, tx.bytes);
            const std::uint64_t t = now();
            if (!client_->farewellsPending() || t >= giveUpAt)
                break;
            std::uint64_t wakeAt = giveUpAt;
            if (const auto next = client_->nextDeadline())
                wakeAt = std::min(wakeAt, std::max(*next, t));
            pollfd p = {socket_.fd(), POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(wakeAt - t));
            iax2::Address from;
            for (int i = 0; i < 256 && socket_.receive(&from, &buffer); ++i)
                client_->handleDatagram(now(), from, buffer.data(), buffer.size());
            client_->poll(now());
        }
    }
    client_.reset();
    socket_.close();
    mailbox_.reset();
    audioTest_ = false;
    initialized_ = false;
}

int Engine::startThread()
{
    std::lock_guard<std::mutex> life(lifecycle_);
    if (!initialized_)
        return -1;
    if (thread_.joinable())
        return 0; // one processing thread, however often asked
    stopRequested_ = false;
    const unsigned generation = ++generation_;
    thread_ = std::thread([this, generation] { run(generation); });
    return 0;
}

int Engine::stopThread()
{
    std::lock_guard<std::mutex> life(lifecycle_);
    if (!thread_.joinable())
        return 0;
    stopRequested_ = true;
    wake();
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach(); // asked from inside a callback: the loop ends on its own
    else
        thread_.join();
    return 0;
}

void Engine::wake()
{
    std::shared_ptr<Mailbox> mailbox;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        mailbox = mailbox_;
    }
    if (mailbox)
        mailbox->wakeup.poke();
}

void Engine::setFormats(int preferred, int allowed)
{
    preferredFormat_ = preferred;
    allowedFormats_ = allowed;
}

int Engine::registerUser(const char *user, const char *pass, const char *host)
{
    if (!user || !pass || !host)
        return 0;
    int id;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!client_)
            return 0;
        id = ++lastRegistrationId_;
        if (id <= 0) { // after two thousand million registrations, start again at 1
            lastRegistrationId_ = 1;
            id = 1;
        }
        if (!client_->addRegistration(now(), id, user, pass, host))
            return 0;
    }
    wake();
    return id;
}

int Engine::unregisterUser(int id)
{
    bool removed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        removed = client_ && client_->removeRegistration(now(), id);
    }
    wake();
    return removed ? 0 : -1;
}

int Engine::call(const char *dest)
{
    if (!dest)
        return -1;
    iax2::Client::PlaceResult result;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!client_)
            return -1;
        // GSM is the one codec the voice path has: calls offer it whatever else the program allows.
        result = client_->placeCall(now(), dest, IAXC_FORMAT_GSM, IAXC_FORMAT_GSM);
    }
    wake();
    return result == iax2::Client::PlaceResult::Placed ? 0 : -1;
}

void Engine::hangup()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (client_)
            client_->hangup(now());
    }
    wake();
}

void Engine::sendDtmf(char digit)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (client_)
            client_->sendDtmf(now(), digit);
    }
    wake();
}

bool Engine::callIsEncrypted()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return client_ && client_->callEncrypted();
}

int Engine::setMute(bool muted)
{
    std::lock_guard<std::mutex> lock(mediaMutex_);
    if (!media_)
        return -1;
    media_->setMuted(muted);
    return 0;
}

int Engine::audioUnderruns()
{
    std::shared_ptr<media::MediaSession> session;
    {
        std::lock_guard<std::mutex> lock(mediaMutex_);
        session = media_;
    }
    if (!session)
        return -1;
    return static_cast<int>(std::min<std::uint64_t>(session->underruns(), INT_MAX));
}

int Engine::audioDevicesGet(iaxc_audio_device **devs, int *count, int *input, int *output, int *ring)
{
    std::unique_lock<std::mutex> lock(mediaMutex_);
    cardsWanted_ = true;
    cardsWantedChanged_.notify_all();
    listed_.wait(lock, [this] { return !listing_; }); // the list without the cards would mislead
    if (devs)
        *devs = deviceList_.empty() ? nullptr : deviceList_.data();
    if (count)
        *count = static_cast<int>(deviceList_.size());
    if (input)
        *input = media_ ? media_->input() : media::deviceid::SilentMicrophone;
    if (output)
        *output = media_ ? media_->output() : media::deviceid::DiscardingSpeaker;
    if (ring)
        *ring = ringDevice_;
    return media_ ? 0 : -1;
}

int Engine::audioDevicesSet(int input, int output, int ring)
{
    std::shared_ptr<media::MediaSession> session;
    bool ringKnown = true;
    {
        std::lock_guard<std::mutex> lock(mediaMutex_);
        if (!media_)
            return -1;
        if (listing_) {
            // Whether a card exists is not known yet: the choice is made once the cards are listed.
            wanted_.input = input >= 0 ? input : wanted_.input;
            wanted_.output = output >= 0 ? output : wanted_.output;
            wanted_.ring = ring >= 0 ? ring : wanted_.ring;
            settleWithoutCards();
            return 0;
        }
        session = media_;
        if (ring >= 0) {
            const media::DeviceEntry *r = registry_->find(ring);
            ringKnown = r && r->canPlay;
            ringDevice_ = ringKnown ? ring : registry_->defaultOutput();
        }
    }
    // Unknown identifiers (a card since removed) leave that side on its default device.
    const bool known = session->selectDevices(input >= 0 ? input : session->input(),
                                              output >= 0 ? output : session->output());
    return known && ringKnown ? 0 : -1;
}

int Engine::refreshDevices()
{
    std::unique_lock<std::mutex> lock(mediaMutex_);
    cardsWanted_ = true;
    cardsWantedChanged_.notify_all();
    listed_.wait(lock, [this] { return !listing_; }); // one look at a time
    if (!media_ || media_->running())
        return -1; // open streams hold the sound system; it cannot look again under them
    // A side that used the old default uses the new one (a headset that
    // appeared becomes the device, as the desktop says); a device chosen by
    // identifier stays chosen while it exists.
    const int oldInput = media_->input();
    const int oldOutput = media_->output();
    const bool inputFollowsDefault = oldInput == registry_->defaultInput();
    const bool outputFollowsDefault = oldOutput == registry_->defaultOutput();
    const bool ringFollowsDefault = ringDevice_ == registry_->defaultOutput();
    // PortAudio only looks for cards when it starts, and it starts afresh
    // only once the last device of the old list is gone.
    auto builtIns = std::make_shared<media::DeviceRegistry>();
    builtIns->rebuild(false);
    if (!media_->setRegistry(builtIns))
        return -1;
    registry_ = builtIns;
    rebuildDeviceList();
    auto fresh = std::make_shared<media::DeviceRegistry>();
    fresh->rebuild(true);
    media_->setRegistry(fresh);
    registry_ = fresh;
    rebuildDeviceList();
    media_->selectDevices(inputFollowsDefault ? fresh->defaultInput() : oldInput,
                          outputFollowsDefault ? fresh->defaultOutput() : oldOutput);
    const media::DeviceEntry *ring = fresh->find(ringDevice_);
    if (ringFollowsDefault || !ring || !ring->canPlay)
        ringDevice_ = fresh->defaultOutput();
    return 0;
}

int Engine::setAudioTest(bool on)
{
    {
        std::lock_guard<std::mutex> lock(mediaMutex_);
        if (!media_)
            return -1;
    }
    audioTest_ = on;
    wake(); // the processing thread opens or closes the devices
    return 0;
}

void Engine::pump(media::MediaSession &media, std::vector<iax2::Transmit> &transmits,
                  std::vector<iax2::ClientEvent> &events)
{
    // Called with mutex_ held.
    const std::uint64_t t = now();
    {
        std::vector<std::pair<std::uint64_t, std::optional<iax2::Address>>> answers;
        {
            std::lock_guard<std::mutex> box(mailbox_->mutex);
            answers.swap(mailbox_->answers);
        }
        for (const auto &answer : answers)
            client_->resolved(t, answer.first, answer.second);
    }
    client_->poll(t);
    for (auto &request : client_->takeResolveRequests()) {
        const bool allowV6 = socket_.supportsV6();
        std::thread([mailbox = mailbox_, request, allowV6] {
            iax2net::leaveRealtime(); // a name server may take seconds
            auto address = iax2net::resolve(request.host, request.port, allowV6);
            {
                std::lock_guard<std::mutex> box(mailbox->mutex);
                mailbox->answers.emplace_back(request.ticket, address);
            }
            mailbox->wakeup.poke();
        }).detach();
    }
    for (const auto &voice : client_->takeVoice())
        media.received(voice.timestamp, voice.format, voice.data, t);
    if (const auto callNow = client_->callTimestamp(t)) {
        for (const auto &frame : media.takeCaptured())
            client_->sendVoice(t, IAXC_FORMAT_GSM, iax2::Bytes(std::begin(frame.gsm), std::end(frame.gsm)),
                               media.stamp(frame.sequence, *callNow));
    } else {
        media.takeCaptured(); // the call is over: what the microphone still had goes nowhere
    }
    auto more = client_->takeTransmits();
    transmits.insert(transmits.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    auto happened = client_->takeEvents();
    events.insert(events.end(), std::make_move_iterator(happened.begin()), std::make_move_iterator(happened.end()));
}

void Engine::run(unsigned generation)
{
    // This thread sends the voice and fills the jitter buffer.
    iax2net::enterRealtime();
    std::vector<std::uint8_t> buffer;
    std::shared_ptr<media::MediaSession> media;
    {
        std::lock_guard<std::mutex> lock(mediaMutex_);
        media = media_;
    }
    if (!media)
        return;
    while (!stopRequested_ && generation == generation_) {
        int fd;
        int wakeFd;
        int timeout = 1000;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!client_)
                return;
            fd = socket_.fd();
            wakeFd = mailbox_->wakeup.fd();
            std::optional<std::uint64_t> next = client_->nextDeadline();
            if (client_->callState() & iax2::callstate::Complete && (!next || nextStatsAt_ < *next))
                next = nextStatsAt_;
            if (media->running() && (!next || nextLevelsAt_ < *next))
                next = nextLevelsAt_;
            if (next) {
                const std::uint64_t t = now();
                timeout = *next <= t ? 0 : static_cast<int>(std::min<std::uint64_t>(*next - t, 1000));
            }
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        ::poll(fds, 2, timeout);
        if (stopRequested_ || generation != generation_)
            break;

        std::vector<iax2::Transmit> transmits;
        std::vector<iax2::ClientEvent> events;
        std::optional<iaxc_event> netstat;
        std::optional<iaxc_event> levelsEvent;
        bool answered;
        bool voiceOn;
        const std::uint64_t t = now();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!client_)
                return;
            if (fds[1].revents & POLLIN)
                mailbox_->wakeup.drain();
            iax2::Address from;
            // Bounded, so a flood cannot starve the timers.
            for (int i = 0; i < 256 && socket_.receive(&from, &buffer); ++i)
                client_->handleDatagram(now(), from, buffer.data(), buffer.size());
            pump(*media, transmits, events);
            answered = (client_->callState() & iax2::callstate::Complete) != 0;
            voiceOn = client_->callHasVoice();
            if (answered && media->running() && t >= nextStatsAt_)
                netstat = statistics(*media, t, transmits);
            if (media->running() && t >= nextLevelsAt_)
                levelsEvent = levels(*media, t);
            for (const auto &tx : transmits)
                socket_.sendTo(tx.to, tx.bytes);
        }
        for (const auto &e : events)
            deliver(e);
        for (const auto &e : {netstat, levelsEvent}) {
            if (!e)
                continue;
            if (const iaxc_event_callback_t callback = callback_.load())
                callback(*e);
        }
        if (stopRequested_ || generation != generation_)
            break; // a callback shut the engine down: leave the devices to the session's last owner
        syncMedia(*media, voiceOn, t);
        std::vector<std::string> notices;
        {
            std::lock_guard<std::mutex> lock(noticeMutex_);
            notices.swap(notices_);
        }
        for (const auto &text : notices) {
            deliver(iax2::event::Text{text});
        }
    }
}

void Engine::syncMedia(media::MediaSession &media, bool voiceOn, std::uint64_t t)
{
    // voiceOn: the call is answered, or its voice came before the answer.
    // A device test keeps the devices open between calls; a call answered
    // during one goes on with them as they are.
    const bool wanted = voiceOn || audioTest_;
    const bool callStarts = voiceOn && !callMedia_;
    if (callStarts)
        media.setMuted(false); // a mute is about one call
    if (wanted && (callStarts || !media.running())) {
        media.stop(); // each call starts on fresh paths, even where a test had the devices open
        // Devices that wait for the sound cards open once they are listed; the lister wakes this loop then.
        if (!devicesSettled_)
            wantCards();
        if (devicesSettled_) {
            media.start();
            media.takeLevels(); // nothing of an earlier run
            nextLevelsAt_ = t + kLevelsIntervalMs;
        }
    } else if (!wanted && media.running()) {
        media.stop();
    } else if (wanted) {
        media.checkDevices();
    }
    if (!voiceOn) {
        callMedia_ = false;
    } else if (callStarts) {
        callMedia_ = true;
        // Ask for the link's figures at once, so the first report has a round-trip time.
        std::vector<iax2::Transmit> transmits;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!client_)
                return;
            client_->sendLinkProbe(t, media.report());
            auto more = client_->takeTransmits();
            for (const auto &tx : more)
                socket_.sendTo(tx.to, tx.bytes);
        }
        nextStatsAt_ = t + kStatisticsIntervalMs;
    }
}

std::optional<iaxc_event> Engine::levels(media::MediaSession &media, std::uint64_t t)
{
    nextLevelsAt_ = std::max(nextLevelsAt_ + kLevelsIntervalMs, t + kLevelsIntervalMs / 2);
    const media::MediaSession::Levels peak = media.takeLevels();
    iaxc_event e;
    std::memset(&e, 0, sizeof e);
    e.type = IAXC_EVENT_LEVELS;
    e.ev.levels.input = peak.input;
    e.ev.levels.output = peak.output;
    return e;
}

std::optional<iaxc_event> Engine::statistics(media::MediaSession &media, std::uint64_t t,
                                             std::vector<iax2::Transmit> &transmits)
{
    // Called with mutex_ held, about once a second during an answered call.
    nextStatsAt_ = std::max(nextStatsAt_ + kStatisticsIntervalMs, t + kStatisticsIntervalMs / 2);
    const iax2::ReceiverReport local = media.report();
    const iax2::Client::Link link = client_->link();
    client_->sendLinkProbe(t, local);
    auto more = client_->takeTransmits();
    transmits.insert(transmits.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));

    iaxc_event e;
    std::memset(&e, 0, sizeof e);
    e.type = IAXC_EVENT_NETSTAT;
    e.ev.netstats.callNo = 0; // the one line
    e.ev.netstats.rtt = link.rttMs ? static_cast<int>(*link.rttMs) : -1;
    auto fill = [](iaxc_netstat &n, const iax2::ReceiverReport &r) {
        n.jitter = static_cast<int>(r.jitter);
        n.losspct = static_cast<int>(r.lossPercent);
        n.losscnt = static_cast<int>(r.lossCount);
        n.packets = static_cast<int>(r.packets);
        n.delay = static_cast<int>(r.delay);
        n.dropped = static_cast<int>(r.dropped);
        n.ooo = static_cast<int>(r.outOfOrder);
    };
    fill(e.ev.netstats.local, local);
    fill(e.ev.netstats.remote, link.remote.value_or(iax2::ReceiverReport{}));
    return e;
}

namespace {

iaxc_event translated(const iax2::event::Registration &r)
{
    iaxc_event e;
    std::memset(&e, 0, sizeof e);
    e.type = IAXC_EVENT_REGISTRATION;
    e.ev.reg.id = r.id;
    e.ev.reg.reply = static_cast<int>(r.reply);
    e.ev.reg.msgcount = 0;
    return e;
}

iaxc_event translated(const iax2::event::CallState &c)
{
    iaxc_event e;
    std::memset(&e, 0, sizeof e);
    e.type = IAXC_EVENT_STATE;
    e.ev.call.callNo = 0; // the one line
    e.ev.call.state = c.state;
    e.ev.call.format = static_cast<int>(c.format);
    copyText(e.ev.call.remote, c.remote);
    copyText(e.ev.call.local, c.local);
    copyText(e.ev.call.local_context, "default");
    return e;
}

iaxc_event translated(const iax2::event::Text &t)
{
    iaxc_event e;
    std::memset(&e, 0, sizeof e);
    e.type = IAXC_EVENT_TEXT;
    e.ev.text.type = IAXC_TEXT_TYPE_STATUS;
    e.ev.text.callNo = -1;
    copyText(e.ev.text.message, t.text);
    return e;
}

iaxc_event translated(const iax2::event::Dtmf &d)
{
    iaxc_event e;
    std::memset(&e, 0, sizeof e);
    e.type = IAXC_EVENT_DTMF;
    e.ev.dtmf.callNo = 0;
    e.ev.dtmf.digit = d.digit;
    return e;
}

} // namespace

void Engine::deliver(const iax2::ClientEvent &event)
{
    const iaxc_event_callback_t callback = callback_.load();
    if (!callback)
        return;
    callback(std::visit([](const auto &e) { return translated(e); }, event));
}

} // namespace ondavox
