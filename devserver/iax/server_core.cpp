#include "server_core.h"

#include "frame_cipher.h"
#include "iax2_constants.h"
#include "ie.h"
#include "md5.h"
#include "test_numbers.h"

#include <gsm.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iterator>

namespace devserver {

using namespace iax2;

namespace {

bool isIax(const FullFrame &f, std::uint8_t subclass)
{
    return f.type == frametype::Iax && f.subclass == subclass;
}

bool validNumber(const std::string &number)
{
    if (findTestNumber(number))
        return true;
    return number.size() > 2 && number.size() <= 32 && number.compare(0, 2, "00") == 0
           && std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool validDigit(std::uint32_t d)
{
    return (d >= '0' && d <= '9') || d == '*' || d == '#' || (d >= 'A' && d <= 'D');
}

constexpr std::size_t kMaxDelayedVoice = 4096;
constexpr std::uint32_t kToneFrameMs = 20;

// One second of a 425 Hz ringback tone in GSM frames: 425 whole periods, so
// it repeats without a click.
const std::vector<Bytes> &ringbackTone()
{
    static const std::vector<Bytes> frames = [] {
        std::vector<Bytes> out;
        gsm encoder = gsm_create();
        constexpr int kSamples = 160;
        for (int f = 0; f < 1000 / int(kToneFrameMs); ++f) {
            gsm_signal pcm[kSamples];
            for (int i = 0; i < kSamples; ++i) {
                const double t = double(f * kSamples + i) / 8000.0;
                pcm[i] = static_cast<gsm_signal>(8000.0 * std::sin(2.0 * M_PI * 425.0 * t));
            }
            Bytes frame(sizeof(gsm_frame));
            gsm_encode(encoder, pcm, frame.data());
            out.push_back(std::move(frame));
        }
        gsm_destroy(encoder);
        return out;
    }();
    return frames;
}


} // namespace

ServerCore::ServerCore(IaxBackend &backend, ServerCoreOptions options, EpochClock epochSeconds)
    : backend_(backend),
      options_(std::move(options)),
      epochSeconds_(std::move(epochSeconds)),
      tokens_(options_.tokenSecret.empty() ? randomHex(32) : options_.tokenSecret),
      endpoint_(EndpointOptions{options_.retransmit, options_.lingerMs, options_.maxDialogs,
                                options_.maxDialogsPerHost, ReplyLimiter::Options{50, 100, 1000, 1000}}),
      impairRandom_(options_.impairment.seed ? options_.impairment.seed : std::random_device{}())
{
}

void ServerCore::sendChallenge(std::uint64_t now, Dialog &d, std::uint8_t command)
{
    d.challenge = newChallenge();
    IeBuilder ies;
    ies.u16(ie::AuthMethods, authmethod::Md5).text(ie::Challenge, d.challenge).text(ie::Username, d.user);
    const bool encrypt = command == iaxcmd::AuthReq && d.offeredAes && options_.encryption != EncryptionMode::Off;
    if (encrypt)
        ies.u16(ie::Encryption, encryption::Aes128);
    d.leg.send(now, frametype::Iax, command, ies.take(), transmits_);
    if (!encrypt)
        return;
    // Everything after the challenge is encrypted with the key it gives.
    // For a name we do not know, a key nobody has: the caller's answer then
    // never opens, as with a wrong secret, and says nothing about which
    // names exist.
    AesKey key;
    if (const auto account = backend_.findIaxAccount(d.user))
        key = challengeKey(d.challenge, account->password);
    else
        systemRandom(key.data(), key.size());
    d.leg.encryptWith(std::make_shared<const FrameCipher>(key));
}

std::string ServerCore::newChallenge()
{
    // From the system's random source: a challenge someone could predict
    // would let a recorded answer be replayed.
    std::uint32_t r;
    systemRandom(&r, sizeof r);
    return std::to_string(100000000 + r % 900000000);
}

std::uint32_t ServerCore::dateTimeNow() const
{
    const std::time_t t = static_cast<std::time_t>(epochSeconds_());
    std::tm tm{};
    gmtime_r(&t, &tm);
    const std::uint32_t year = static_cast<std::uint32_t>(std::max(0, tm.tm_year - 100));
    return (year << 25) | (std::uint32_t(tm.tm_mon + 1) << 21) | (std::uint32_t(tm.tm_mday) << 16)
           | (std::uint32_t(tm.tm_hour) << 11) | (std::uint32_t(tm.tm_min) << 5) | std::uint32_t(tm.tm_sec / 2);
}

void ServerCore::handleDatagram(std::uint64_t now, const Address &from, const std::uint8_t *data, std::size_t size)
{
    const auto arrival = endpoint_.decode(from, data, size);
    if (arrival.mini) {
        if (arrival.sealed && !plausibleOpenedVoice(format::Gsm, arrival.mini->payload))
            endpoint_.countUndecryptable();
        else
            handleMini(now, from, *arrival.mini);
    } else if (arrival.full) {
        handleFull(now, from, *arrival.full);
    }
}

void ServerCore::handleFull(std::uint64_t now, const Address &from, const FullFrame &f)
{
    if (f.destCall == 0) {
        if (f.sourceCall == 0 || !(isIax(f, iaxcmd::New) || isIax(f, iaxcmd::RegReq) || isIax(f, iaxcmd::RegRel)))
            return;
        if (Dialog *known = endpoint_.byPeerCall(from, f.sourceCall)) {
            known->leg.receive(now, f, transmits_); // a repeat: acknowledged again
            return;
        }
        const auto ies = IeList::parse(f.payload);
        if (!ies)
            return;
        const std::uint8_t refusal = isIax(f, iaxcmd::New) ? iaxcmd::Reject : iaxcmd::RegRej;
        const auto token = ies->text(ie::CallToken);
        const auto refuse = [&](const char *why) {
            endpoint_.replyOutside(now, from, f, refusal,
                                   IeBuilder().text(ie::Cause, why).u8(ie::CauseCode, cause::FacilityRejected).take(),
                                   transmits_);
        };
        if (!token) {
            refuse("Call token required");
            return;
        }
        if (token->empty()) {
            endpoint_.replyOutside(now, from, f, iaxcmd::CallToken,
                                   IeBuilder().text(ie::CallToken, tokens_.issue(from, now / 1000)).take(), transmits_);
            return;
        }
        if (!tokens_.verify(*token, from, now / 1000)) {
            refuse("Invalid call token");
            return;
        }
        openDialog(now, from, f);
        return;
    }

    Dialog *found = endpoint_.dialogFor(now, from, f, transmits_);
    if (!found || f.sourceCall != found->leg.remoteCall())
        return;
    Dialog &d = *found;
    const auto receipt = d.leg.receive(now, f, transmits_);
    if (receipt == Leg::Receipt::Invalidated && !d.finished) {
        endRecord(d);
        finish(now, d);
        return;
    }
    if (receipt != Leg::Receipt::Deliver || d.finished)
        return;
    if (d.kind == Kind::Registration)
        onRegistrationFrame(now, d, f);
    else
        onCallFrame(now, d, f);
}

void ServerCore::openDialog(std::uint64_t now, const Address &from, const FullFrame &f)
{
    const Kind kind = isIax(f, iaxcmd::New) ? Kind::Call : Kind::Registration;
    Dialog *opened = endpoint_.open(now, from, kind);
    if (!opened)
        return;
    Dialog &d = *opened;
    endpoint_.bindPeerCall(from, f.sourceCall, d.leg.localCall());
    if (d.leg.receive(now, f, transmits_) != Leg::Receipt::Deliver) {
        finish(now, d);
        return;
    }
    if (kind == Kind::Registration)
        onRegistrationFrame(now, d, f);
    else
        onCallFrame(now, d, f);
}

bool ServerCore::checkAnswer(const Dialog &d, const FullFrame &f, IaxAccount *account)
{
    const auto ies = IeList::parse(f.payload);
    const auto answer = ies ? ies->text(ie::Md5Result) : std::nullopt;
    if (!answer || d.challenge.empty())
        return false;
    const auto found = backend_.findIaxAccount(d.user);
    if (!found)
        return false;
    const std::string expected = md5ChallengeAnswer(d.challenge, found->password);
    std::string given = *answer;
    std::transform(given.begin(), given.end(), given.begin(), [](unsigned char c) { return std::tolower(c); });
    if (given != expected)
        return false;
    *account = *found;
    return true;
}

void ServerCore::onRegistrationFrame(std::uint64_t now, Dialog &d, const FullFrame &f)
{
    if (f.type != frametype::Iax || (f.subclass != iaxcmd::RegReq && f.subclass != iaxcmd::RegRel))
        return;
    const auto ies = IeList::parse(f.payload);
    const auto user = ies ? ies->text(ie::Username) : std::nullopt;
    if (d.challenge.empty()) {
        if (!user || user->empty()) {
            refuse(now, d, iaxcmd::RegRej, "User name missing", cause::FacilityRejected);
            return;
        }
        d.user = *user;
        d.request = static_cast<std::uint8_t>(f.subclass);
        d.refresh = ies->u16(ie::Refresh).value_or(options_.maxRefreshSeconds);
        // Unknown users get a challenge too, so a reply tells nothing about which names exist.
        sendChallenge(now, d, iaxcmd::RegAuth);
        return;
    }
    IaxAccount account;
    if (f.subclass != d.request || (user && *user != d.user) || !checkAnswer(d, f, &account)) {
        refuse(now, d, iaxcmd::RegRej, "Registration Refused", cause::FacilityRejected);
        return;
    }
    IeBuilder reply;
    reply.text(ie::Username, d.user);
    if (d.request == iaxcmd::RegReq) {
        const std::uint16_t refresh = std::clamp(d.refresh, options_.minRefreshSeconds, options_.maxRefreshSeconds);
        bindings_[d.user] = Binding{d.leg.peer(), now + std::uint64_t(refresh) * 1000};
        reply.u32(ie::DateTime, dateTimeNow()).u16(ie::Refresh, refresh);
    } else {
        bindings_.erase(d.user);
    }
    d.leg.send(now, frametype::Iax, iaxcmd::RegAck, reply.take(), transmits_);
    finish(now, d);
}

void ServerCore::onCallFrame(std::uint64_t now, Dialog &d, const FullFrame &f)
{
    if (f.type == frametype::Iax) {
        switch (f.subclass) {
        case iaxcmd::New: {
            const auto ies = IeList::parse(f.payload);
            if (!ies) {
                refuse(now, d, iaxcmd::Reject, "Malformed request", cause::FacilityRejected);
                return;
            }
            const auto version = ies->u16(ie::Version);
            if (version && *version != kProtocolVersion) {
                refuse(now, d, iaxcmd::Reject, "Unsupported protocol version", cause::FacilityRejected);
                return;
            }
            const auto user = ies->text(ie::Username);
            const auto number = ies->text(ie::CalledNumber);
            if (!user || user->empty() || !number || number->empty()) {
                refuse(now, d, iaxcmd::Reject, "User name and called number required", cause::FacilityRejected);
                return;
            }
            d.user = *user;
            d.number = *number;
            d.offered = ies->u32(ie::Capability).value_or(0) | ies->u32(ie::Format).value_or(0);
            d.offeredAes = (ies->u16(ie::Encryption).value_or(0) & encryption::Aes128) != 0;
            if (options_.encryption == EncryptionMode::Require && !d.offeredAes) {
                refuse(now, d, iaxcmd::Reject, "This server takes encrypted calls only", cause::FacilityRejected);
                return;
            }
            sendChallenge(now, d, iaxcmd::AuthReq);
            return;
        }
        case iaxcmd::AuthRep: {
            if (d.phase != Phase::Authenticating)
                return;
            IaxAccount account;
            if (!checkAnswer(d, f, &account)) {
                refuse(now, d, iaxcmd::Reject, "Authentication failed", cause::FacilityRejected);
                return;
            }
            onAuthenticatedCall(now, d, account);
            return;
        }
        case iaxcmd::Hangup:
            endRecord(d);
            finish(now, d);
            return;
        case iaxcmd::Ping:
        case iaxcmd::LagRq:
            d.answerProbe(now, f, receiverReport(d), transmits_);
            return;
        default:
            return;
        }
    }
    if (f.type == frametype::Control && f.subclass == control::Hangup) {
        endRecord(d);
        finish(now, d);
        return;
    }
    if (f.type == frametype::Voice && f.subclass != 0) {
        d.receivedVoiceFormat = f.subclass;
        onVoice(now, d, f.timestamp, f.payload);
        return;
    }
    if (f.type == frametype::DtmfEnd && d.recordOpen && validDigit(f.subclass))
        backend_.dtmfReceived(d.callId, static_cast<char>(f.subclass));
}

void ServerCore::handleMini(std::uint64_t now, const Address &from, const MiniFrame &m)
{
    Dialog *found = endpoint_.byPeerCall(from, m.sourceCall);
    if (!found || found->kind != Kind::Call || found->finished || found->receivedVoiceFormat == 0)
        return; // a full voice frame must say the format first
    Dialog &d = *found;
    onVoice(now, d, unwrapMiniTimestamp(d.receivedVoiceTimestamp, m.timestamp), m.payload);
}

void ServerCore::onVoice(std::uint64_t now, Dialog &d, std::uint32_t timestamp, const Bytes &payload)
{
    if (d.phase != Phase::Answered || payload.empty())
        return;
    if (d.reception.received(timestamp, now) == ReceptionStats::Arrival::InOrder)
        d.receivedVoiceTimestamp = timestamp;
    // The echo: the caller's own voice, with its own timestamps, straight back.
    Outbox voice;
    d.sendVoice(now, d.receivedVoiceFormat, payload, timestamp, voice);
    sendImpaired(now, d, voice);
}

void ServerCore::sendImpaired(std::uint64_t now, const Dialog &d, Outbox &voice)
{
    const Impairment &imp = options_.impairment;
    const bool over = imp.forMs > 0 && d.answeredAt && now >= *d.answeredAt + imp.forMs;
    if (!imp.any() || over) {
        transmits_.insert(transmits_.end(), std::make_move_iterator(voice.begin()), std::make_move_iterator(voice.end()));
        return;
    }
    std::uniform_real_distribution<double> percent(0.0, 100.0);
    std::uniform_int_distribution<std::uint32_t> jitter(0, imp.jitterMs);
    for (auto &t : voice) {
        // Held-back voice is bounded: a flood from one caller must not grow the server without limit.
        if (percent(impairRandom_) < imp.lossPercent || delayed_.size() >= kMaxDelayedVoice)
            continue;
        std::uint64_t delay = jitter(impairRandom_);
        if (percent(impairRandom_) < imp.reorderPercent)
            delay += 30; // one and a half periods: the next frame goes first
        if (percent(impairRandom_) < imp.duplicatePercent)
            delayed_.emplace(now + delay + jitter(impairRandom_), t);
        delayed_.emplace(now + delay, std::move(t));
    }
    poll(now);
}

Bytes ServerCore::receiverReport(const Dialog &d) const
{
    IeBuilder ies;
    appendReceiverReport(ies, d.reception.report(0)); // echoed at once: nothing is held back
    return ies.take();
}

void ServerCore::onAuthenticatedCall(std::uint64_t now, Dialog &d, const IaxAccount &account)
{
    if (!(d.offered & format::Gsm)) {
        refuse(now, d, iaxcmd::Reject, "No voice format in common", cause::BearerNotAvailable);
        return;
    }
    if (!validNumber(d.number)) {
        refuse(now, d, iaxcmd::Reject, "Unallocated number", cause::UnallocatedNumber);
        return;
    }
    if (!backend_.mayCall(account.accountId, d.number)) {
        refuse(now, d, iaxcmd::Reject, "Not enough credit", cause::CallRejected);
        return;
    }
    d.callId = backend_.callStarted(account.accountId, d.number, epochSeconds_());
    d.recordOpen = true;
    d.leg.send(now, frametype::Iax, iaxcmd::Accept, IeBuilder().u32(ie::Format, format::Gsm).take(), transmits_);
    d.nextPingAt = now + options_.pingIntervalMs;

    switch (callScriptFor(d.number)) {
    case CallScript::AnswerAtOnce:
        answer(now, d);
        break;
    case CallScript::Busy:
        sendControl(now, d, control::Busy);
        d.phase = Phase::Refused;
        d.hangupAt = now + options_.unansweredGiveUpMs;
        break;
    case CallScript::Congestion:
        sendControl(now, d, control::Congestion);
        d.phase = Phase::Refused;
        d.hangupAt = now + options_.unansweredGiveUpMs;
        break;
    case CallScript::RingUntilCancelled:
        sendControl(now, d, control::Ringing);
        d.phase = Phase::Ringing;
        break;
    case CallScript::AnswerThenHangUp:
        answer(now, d);
        d.hangupAt = now + options_.answeredHangupMs;
        break;
    case CallScript::RingThenAnswer:
        sendControl(now, d, control::Ringing);
        d.phase = Phase::Ringing;
        d.answerAt = now + options_.ringBeforeAnswerMs;
        break;
    case CallScript::ToneThenAnswer:
        // As Asterisk after Progress(): the ringback is the server's own
        // audio, sent as voice before the answer.
        sendControl(now, d, control::Progress);
        d.phase = Phase::Ringing;
        d.answerAt = now + options_.ringBeforeAnswerMs;
        d.toneTimestamp = d.leg.elapsed(now);
        d.nextToneAt = now;
        sendTone(now, d);
        break;
    }
}

void ServerCore::sendTone(std::uint64_t now, Dialog &d)
{
    const auto &tone = ringbackTone();
    while (d.nextToneAt && now >= *d.nextToneAt) {
        const Bytes &frame = tone[d.toneFrame++ % tone.size()];
        Outbox voice;
        d.sendVoice(now, format::Gsm, frame, d.toneTimestamp, voice);
        d.toneTimestamp += kToneFrameMs;
        *d.nextToneAt += kToneFrameMs;
        sendImpaired(now, d, voice);
    }
}

void ServerCore::sendControl(std::uint64_t now, Dialog &d, std::uint32_t subclass)
{
    d.leg.send(now, frametype::Control, subclass, {}, transmits_);
}

void ServerCore::answer(std::uint64_t now, Dialog &d)
{
    d.nextToneAt.reset();
    d.nextLagAt = now + options_.lagIntervalMs;
    // As Asterisk does: -1 (stop the indication) when ringing ends and
    // again after the answer, so clients meet that frame here first.
    if (d.phase == Phase::Ringing)
        sendControl(now, d, kSubclassMinusOne);
    sendControl(now, d, control::Answer);
    sendControl(now, d, kSubclassMinusOne);
    d.phase = Phase::Answered;
    d.answerAt.reset();
    d.answeredAt = now;
    if (d.recordOpen)
        backend_.callAnswered(d.callId, epochSeconds_());
}

void ServerCore::refuse(std::uint64_t now, Dialog &d, std::uint8_t subclass, const std::string &why, std::uint8_t code)
{
    d.leg.send(now, frametype::Iax, subclass, IeBuilder().text(ie::Cause, why).u8(ie::CauseCode, code).take(),
               transmits_);
    endRecord(d);
    finish(now, d);
}

void ServerCore::hangup(std::uint64_t now, Dialog &d, const std::string &why, std::uint8_t code)
{
    d.leg.send(now, frametype::Iax, iaxcmd::Hangup, IeBuilder().text(ie::Cause, why).u8(ie::CauseCode, code).take(),
               transmits_);
    endRecord(d);
    finish(now, d);
}

void ServerCore::endRecord(Dialog &d)
{
    if (!d.recordOpen)
        return;
    d.recordOpen = false;
    backend_.callEnded(d.callId, epochSeconds_());
}

void ServerCore::finish(std::uint64_t now, Dialog &d)
{
    endpoint_.finish(now, d);
    d.phase = Phase::Ended;
}

void ServerCore::hangupAll(std::uint64_t now)
{
    for (auto &entry : endpoint_.dialogs()) {
        Dialog &d = entry.second;
        if (d.kind == Kind::Call && !d.finished)
            hangup(now, d, "Server shutting down", cause::NormalClearing);
    }
}

void ServerCore::poll(std::uint64_t now)
{
    while (!delayed_.empty() && delayed_.begin()->first <= now) {
        transmits_.push_back(std::move(delayed_.begin()->second));
        delayed_.erase(delayed_.begin());
    }
    endpoint_.poll(now, transmits_, [this, now](Dialog &d) {
        // The caller is gone: close its record as it stands.
        endRecord(d);
        finish(now, d);
    });
    for (auto &entry : endpoint_.dialogs()) {
        Dialog &d = entry.second;
        if (d.finished)
            continue;
        if (d.nextToneAt)
            sendTone(now, d);
        if (d.answerAt && now >= *d.answerAt)
            answer(now, d);
        if (d.phase == Phase::Answered && now >= d.nextLagAt) {
            d.leg.send(now, frametype::Iax, iaxcmd::LagRq, {}, transmits_);
            d.nextLagAt = now + options_.lagIntervalMs;
        }
        if (d.hangupAt && now >= *d.hangupAt) {
            hangup(now, d, "Normal Clearing", cause::NormalClearing);
            continue;
        }
        if (d.kind == Kind::Call && d.phase != Phase::Authenticating && now >= d.nextPingAt) {
            d.leg.send(now, frametype::Iax, iaxcmd::Ping, receiverReport(d), transmits_);
            d.nextPingAt = now + options_.pingIntervalMs;
        }
    }
    for (auto it = bindings_.begin(); it != bindings_.end();) {
        if (now >= it->second.expires)
            it = bindings_.erase(it);
        else
            ++it;
    }
}

std::optional<std::uint64_t> ServerCore::nextDeadline() const
{
    Deadline next = endpoint_.deadline();
    for (const auto &entry : endpoint_.dialogs()) {
        const Dialog &d = entry.second;
        if (d.finished)
            continue;
        next.consider(d.answerAt);
        next.consider(d.nextToneAt);
        if (d.phase == Phase::Answered)
            next.consider(d.nextLagAt);
        next.consider(d.hangupAt);
        if (d.kind == Kind::Call && d.phase != Phase::Authenticating)
            next.consider(d.nextPingAt);
    }
    for (const auto &entry : bindings_)
        next.consider(entry.second.expires);
    if (!delayed_.empty())
        next.consider(delayed_.begin()->first);
    return next.at();
}

std::optional<Address> ServerCore::registeredAddress(const std::string &user, std::uint64_t now) const
{
    auto it = bindings_.find(user);
    if (it == bindings_.end() || now >= it->second.expires)
        return std::nullopt;
    return it->second.address;
}

std::size_t ServerCore::queuedFrames() const
{
    return delayed_.size() + endpoint_.queuedFrames();
}

std::size_t ServerCore::openCallCount() const
{
    const auto &dialogs = endpoint_.dialogs();
    return static_cast<std::size_t>(std::count_if(dialogs.begin(), dialogs.end(), [](const auto &entry) {
        return entry.second.kind == Kind::Call && entry.second.recordOpen;
    }));
}

} // namespace devserver
