#include "media_session.h"

namespace media {

namespace {

constexpr std::size_t kMaxQueuedFrames = 50; // a second: the network thread is stuck, not slow

bool isSoundCard(int id)
{
    return id >= deviceid::FirstSoundCard;
}

void raise(std::atomic<float> &peak, float level)
{
    float seen = peak.load();
    while (level > seen && !peak.compare_exchange_weak(seen, level)) {
    }
}

} // namespace

MediaSession::MediaSession(std::shared_ptr<const DeviceRegistry> registry, SteadyClock::time_point epoch, Hooks hooks)
    : registry_(std::move(registry)), epoch_(epoch), hooks_(std::move(hooks)), input_(registry_->defaultInput()),
      output_(registry_->defaultOutput()), chosenInput_(input_), chosenOutput_(output_)
{
}

MediaSession::~MediaSession()
{
    stop();
}

bool MediaSession::selectDevices(int input, int output)
{
    std::lock_guard<std::mutex> lock(control_); // the registry may be replaced
    const DeviceEntry *in = registry_->find(input);
    const DeviceEntry *out = registry_->find(output);
    const bool known = in && in->canRecord && out && out->canPlay;
    const int newIn = in && in->canRecord ? input : registry_->defaultInput();
    const int newOut = out && out->canPlay ? output : registry_->defaultOutput();
    chosenInput_ = newIn;
    chosenOutput_ = newOut;
    // Chosen again after the call fell back from it, a device is tried again.
    if (newIn == input_ && newOut == output_)
        return known;
    input_ = newIn;
    output_ = newOut;
    if (running_) {
        closeStreams();
        openStreams();
    }
    return known;
}

Processing MediaSession::processingFor(int input, int output) const
{
    switch (mode_.load()) {
    case ProcessingMode::On:
        return {true, true};
    case ProcessingMode::Off:
        return {false, false};
    case ProcessingMode::Auto:
        break;
    }
    // Echo needs a speaker the microphone can hear; noise needs a room.
    return {isSoundCard(input) && isSoundCard(output), isSoundCard(input)};
}

void MediaSession::openStreams()
{
    const std::uint64_t sequence = send_ ? send_->nextSequence() : 0;
    send_ = std::make_unique<SendPath>(processingFor(input_, output_), sequence);
    SendPath *send = send_.get();
    ReceivePath *receive = receive_.get();

    auto capture = [this, send](const std::int16_t (&pcm)[kFrameSamples]) {
        // The meter shows what the microphone hears, before any processing.
        raise(inputPeak_, levelDb(pcm));
        send->setSilenceThreshold(threshold_);
        SendPath::Frame frame = send->process(pcm, muted_);
        if (frame.silent)
            return;
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            if (queue_.size() >= kMaxQueuedFrames)
                queue_.erase(queue_.begin());
            queue_.push_back(frame);
        }
        if (hooks_.captured)
            hooks_.captured();
    };
    auto playback = [this, send, receive](std::int16_t (&pcm)[kFrameSamples], std::uint64_t deviceMs) {
        Period period;
        period.voice = receive->pull(deviceMs, pcm, &period.spare);
        // Idle silence may be played only in part: as the echo canceller's
        // reference it would run ahead of the speaker. Without a reference
        // the canceller takes silence all the same.
        if (period.voice)
            send->played(pcm);
        raise(outputPeak_, levelDb(pcm));
        return period;
    };

    std::string error;
    if (const DeviceEntry *in = registry_->find(input_))
        captureStream_ = in->device->openCapture(capture, epoch_, &error);
    if (!captureStream_) {
        if (hooks_.notice)
            hooks_.notice("The microphone cannot be used (" + error + "); using the silent microphone");
        input_ = deviceid::SilentMicrophone;
        captureStream_ = registry_->find(input_)->device->openCapture(capture, epoch_, &error);
    }
    error.clear();
    if (const DeviceEntry *out = registry_->find(output_))
        playbackStream_ = out->device->openPlayback(playback, epoch_, &error);
    if (!playbackStream_) {
        if (hooks_.notice)
            hooks_.notice("The speaker cannot be used (" + error + "); using the discarding speaker");
        output_ = deviceid::DiscardingSpeaker;
        playbackStream_ = registry_->find(output_)->device->openPlayback(playback, epoch_, &error);
    }
}

void MediaSession::closeStreams()
{
    // Streams first: their threads use the paths.
    if (playbackStream_)
        closedUnderruns_ += playbackStream_->underruns();
    captureStream_.reset();
    playbackStream_.reset();
}

void MediaSession::start()
{
    std::lock_guard<std::mutex> lock(control_);
    if (running_)
        return;
    {
        std::lock_guard<std::mutex> r(receiveMutex_);
        receive_ = std::make_shared<ReceivePath>();
    }
    {
        std::lock_guard<std::mutex> q(queueMutex_);
        queue_.clear();
    }
    send_.reset();
    clock_ = VoiceClock();
    closedUnderruns_ = 0;
    running_ = true;
    input_ = chosenInput_;
    output_ = chosenOutput_;
    openStreams();
}

void MediaSession::stop()
{
    std::lock_guard<std::mutex> lock(control_);
    if (!running_)
        return;
    running_ = false;
    closeStreams();
    input_ = chosenInput_;
    output_ = chosenOutput_;
    send_.reset();
    std::lock_guard<std::mutex> q(queueMutex_);
    queue_.clear();
}

bool MediaSession::running() const
{
    std::lock_guard<std::mutex> lock(control_);
    return running_;
}

void MediaSession::checkDevices()
{
    std::lock_guard<std::mutex> lock(control_);
    if (!running_)
        return;
    const bool inputFailed = captureStream_ && captureStream_->failed();
    const bool outputFailed = playbackStream_ && playbackStream_->failed();
    if (!inputFailed && !outputFailed)
        return;
    closeStreams();
    if (inputFailed) {
        if (hooks_.notice)
            hooks_.notice("The microphone stopped working; using the silent microphone");
        input_ = deviceid::SilentMicrophone;
    }
    if (outputFailed) {
        if (hooks_.notice)
            hooks_.notice("The speaker stopped working; using the discarding speaker");
        output_ = deviceid::DiscardingSpeaker;
    }
    openStreams();
}

bool MediaSession::setRegistry(std::shared_ptr<const DeviceRegistry> registry)
{
    std::lock_guard<std::mutex> lock(control_);
    if (!registry)
        return false;
    const auto usable = [&registry](int id, bool recording) {
        const DeviceEntry *entry = registry->find(id);
        return entry && (recording ? entry->canRecord : entry->canPlay);
    };
    if (running_ && !(usable(input_, true) && usable(output_, false)))
        return false;
    if (!usable(chosenInput_, true))
        chosenInput_ = registry->defaultInput();
    if (!usable(chosenOutput_, false))
        chosenOutput_ = registry->defaultOutput();
    registry_ = std::move(registry);
    if (!running_) {
        input_ = chosenInput_;
        output_ = chosenOutput_;
    }
    return true;
}

MediaSession::Levels MediaSession::takeLevels()
{
    return {inputPeak_.exchange(-99.0f), outputPeak_.exchange(-99.0f)};
}

std::vector<SendPath::Frame> MediaSession::takeCaptured()
{
    std::lock_guard<std::mutex> lock(queueMutex_);
    return std::exchange(queue_, {});
}

void MediaSession::received(std::uint32_t timestamp, std::uint32_t format, const std::vector<std::uint8_t> &payload,
                            std::uint64_t nowMs)
{
    std::shared_ptr<ReceivePath> receive;
    {
        std::lock_guard<std::mutex> lock(receiveMutex_);
        receive = receive_;
    }
    if (receive)
        receive->put(timestamp, format, payload, nowMs);
}

iax2::ReceiverReport MediaSession::report() const
{
    std::lock_guard<std::mutex> lock(receiveMutex_);
    return receive_ ? receive_->report() : iax2::ReceiverReport{};
}

std::uint64_t MediaSession::underruns() const
{
    std::lock_guard<std::mutex> lock(control_);
    return closedUnderruns_ + (playbackStream_ ? playbackStream_->underruns() : 0);
}

JitterBuffer::Playout MediaSession::playout() const
{
    std::lock_guard<std::mutex> lock(receiveMutex_);
    return receive_ ? receive_->playout() : JitterBuffer::Playout{};
}

} // namespace media
