#include "client.h"

#include "frame_cipher.h"
#include "iax2_constants.h"
#include "ie.h"
#include "md5.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace iax2 {

namespace {

bool isIax(const FullFrame &f, std::uint8_t subclass)
{
    return f.type == frametype::Iax && f.subclass == subclass;
}

// The peer's last word on a call.
bool endsCall(const FullFrame &f)
{
    return isIax(f, iaxcmd::Hangup) || isIax(f, iaxcmd::Reject)
           || (f.type == frametype::Control && f.subclass == control::Hangup);
}

// Q.850 causes a server may give as a code alone (Asterisk's Hangup(n) does).
const char *causeText(std::uint8_t code)
{
    switch (code) {
    case 1: return "Unallocated number";
    case 3: return "No route to destination";
    case 17: return "User busy";
    case 18: return "No user responding";
    case 19: return "No answer";
    case 21: return "Call rejected";
    case 22: return "Number changed";
    case 27: return "Destination out of order";
    case 28: return "Invalid number format";
    case 31: return "Normal, unspecified";
    case 34: return "No circuit available";
    case 38: return "Network out of order";
    case 41: return "Temporary failure";
    case 42: return "Switching equipment congestion";
    case 58: return "Bearer capability not available";
    case 88: return "Incompatible destination";
    default: return nullptr;
    }
}

std::string causeOf(const FullFrame &f, const std::string &fallback)
{
    const auto ies = IeList::parse(f.payload);
    if (ies) {
        if (auto cause = ies->text(ie::Cause); cause && !cause->empty())
            return *cause;
        if (auto code = ies->u8(ie::CauseCode))
            if (const char *text = causeText(*code))
                return fallback + ": " + text;
    }
    return fallback;
}

} // namespace

Client::Client(ClientOptions options)
    : options_(options),
      endpoint_(EndpointOptions{options.retransmit, options.lingerMs, options.maxDialogs,
                                std::numeric_limits<std::size_t>::max(), ReplyLimiter::Options{}})
{
}

void Client::text(const std::string &message)
{
    events_.push_back(event::Text{message});
}

Client::Dialog *Client::openDialog(std::uint64_t now, DialogKind kind, const Address &peer)
{
    return endpoint_.open(now, peer, kind);
}

void Client::sendRequest(std::uint64_t now, Dialog &d, const std::string *token)
{
    IeBuilder ies;
    Bytes payload = d.requestIes;
    // An empty token says we support them; the server then hands us one.
    ies.text(ie::CallToken, token ? *token : std::string());
    payload.insert(payload.end(), ies.bytes().begin(), ies.bytes().end());
    d.leg.send(now, frametype::Iax, d.request, std::move(payload), transmits_);
}

void Client::requestResolve(std::uint64_t &ticket, const HostPort &server)
{
    ticket = ++lastTicket_;
    resolveRequests_.push_back({ticket, server.host, server.port});
}

// ---------------------------------------------------------------- registration

bool Client::addRegistration(std::uint64_t now, int id, const std::string &user, const std::string &password,
                             const std::string &host)
{
    (void)now;
    const auto server = parseHostPort(host, options_.defaultPort);
    if (!server || user.empty() || registrations_.count(id))
        return false;
    Registration r;
    r.id = id;
    r.user = user;
    r.password = password;
    r.server = *server;
    requestResolve(r.resolveTicket, r.server);
    registrations_.emplace(id, std::move(r));
    return true;
}

bool Client::removeRegistration(std::uint64_t now, int id)
{
    auto it = registrations_.find(id);
    if (it == registrations_.end())
        return false;
    Registration &r = it->second;
    if (r.dialogCall) {
        if (Dialog *d = endpoint_.find(r.dialogCall)) {
            d->registrationId = 0;
            endpoint_.finish(now, *d);
        }
    }
    if (r.address && (r.state == Registration::State::Registered || r.state == Registration::State::Requesting))
        startRelease(now, r);
    registrations_.erase(it);
    return true;
}

void Client::removeAllRegistrations(std::uint64_t now)
{
    while (!registrations_.empty())
        removeRegistration(now, registrations_.begin()->first);
}

bool Client::farewellsPending() const
{
    const auto &dialogs = endpoint_.dialogs();
    return std::any_of(dialogs.begin(), dialogs.end(), [](const auto &entry) {
        const Dialog &d = entry.second;
        if (d.leg.failed())
            return false;
        return (d.kind == DialogKind::Release && !d.finished) || (d.hungUp && !d.leg.idle()) || !d.held.empty();
    });
}

void Client::startRegisterRequest(std::uint64_t now, Registration &r)
{
    Dialog *opened = openDialog(now, DialogKind::Register, *r.address);
    if (!opened) {
        registrationOutcome(now, r, RegistrationReply::Timeout, 0);
        return;
    }
    Dialog &d = *opened;
    d.registrationId = r.id;
    d.user = r.user;
    d.password = r.password;
    d.request = iaxcmd::RegReq;
    d.requestIes = IeBuilder().text(ie::Username, r.user).u16(ie::Refresh, options_.requestedRefreshSeconds).take();
    r.state = Registration::State::Requesting;
    r.dialogCall = d.leg.localCall();
    sendRequest(now, d, nullptr);
}

void Client::startRelease(std::uint64_t now, const Registration &r)
{
    Dialog *opened = openDialog(now, DialogKind::Release, *r.address);
    if (!opened)
        return;
    Dialog &d = *opened;
    d.user = r.user;
    d.password = r.password;
    d.request = iaxcmd::RegRel;
    d.requestIes = IeBuilder().text(ie::Username, r.user).take();
    sendRequest(now, d, nullptr);
}

Client::Registration *Client::registrationFor(const Dialog &d)
{
    auto it = registrations_.find(d.registrationId);
    if (d.registrationId == 0 || it == registrations_.end() || it->second.dialogCall != d.leg.localCall())
        return nullptr;
    return &it->second;
}

void Client::registrationOutcome(std::uint64_t now, Registration &r, RegistrationReply reply, std::uint16_t refresh)
{
    r.dialogCall = 0;
    switch (reply) {
    case RegistrationReply::Accepted:
        r.state = Registration::State::Registered;
        // Renew at three quarters of the granted time, well before it runs out.
        r.nextAt = now + std::max<std::uint64_t>(1000, std::uint64_t(refresh) * 750);
        break;
    case RegistrationReply::Rejected:
        r.state = Registration::State::Waiting;
        r.nextAt = now + options_.retryAfterRejectMs;
        break;
    case RegistrationReply::Timeout:
        r.state = Registration::State::Waiting;
        r.nextAt = now + options_.retryAfterTimeoutMs;
        r.address.reset(); // look the name up again: the server may have moved
        break;
    }
    events_.push_back(event::Registration{r.id, reply});
}

void Client::onRegistrationFrame(std::uint64_t now, Dialog &d, const FullFrame &f)
{
    if (f.type != frametype::Iax)
        return;
    Registration *r = d.kind == DialogKind::Register ? registrationFor(d) : nullptr;
    switch (f.subclass) {
    case iaxcmd::RegAuth: {
        const auto ies = IeList::parse(f.payload);
        const auto methods = ies ? ies->u16(ie::AuthMethods) : std::nullopt;
        const auto challenge = ies ? ies->text(ie::Challenge) : std::nullopt;
        // A second challenge means the first answer was wrong; the password
        // never goes out in clear.
        if (d.answeredChallenge || !methods || !(*methods & authmethod::Md5) || !challenge) {
            endpoint_.finish(now, d);
            if (r) {
                text("Registration of " + d.user + " refused: no usable authentication");
                registrationOutcome(now, *r, RegistrationReply::Rejected, 0);
            }
            return;
        }
        IeBuilder answer;
        answer.text(ie::Username, d.user).text(ie::Md5Result, md5ChallengeAnswer(*challenge, d.password));
        if (d.request == iaxcmd::RegReq)
            answer.u16(ie::Refresh, options_.requestedRefreshSeconds);
        d.answeredChallenge = true;
        d.leg.send(now, frametype::Iax, d.request, answer.take(), transmits_);
        return;
    }
    case iaxcmd::RegAck: {
        endpoint_.finish(now, d);
        if (r) {
            const auto ies = IeList::parse(f.payload);
            std::uint16_t refresh = options_.requestedRefreshSeconds;
            if (ies && ies->u16(ie::Refresh) && *ies->u16(ie::Refresh) > 0)
                refresh = *ies->u16(ie::Refresh);
            registrationOutcome(now, *r, RegistrationReply::Accepted, refresh);
        }
        return;
    }
    case iaxcmd::RegRej:
    case iaxcmd::Reject:
    case iaxcmd::Hangup:
        endpoint_.finish(now, d);
        if (r) {
            text("Registration of " + d.user + " refused: " + causeOf(f, "no reason given"));
            registrationOutcome(now, *r, RegistrationReply::Rejected, 0);
        }
        return;
    default:
        return;
    }
}

// ---------------------------------------------------------------- calls

Client::PlaceResult Client::placeCall(std::uint64_t now, const std::string &dialString,
                                      std::uint32_t preferredFormat, std::uint32_t allowedFormats)
{
    (void)now;
    if (call_)
        return PlaceResult::LineBusy;
    const auto dial = parseDialString(dialString, options_.defaultPort);
    if (!dial) {
        // The program waits for a free line to leave its call page.
        text("Cannot place the call: the dial string is not user:password@host/number");
        events_.push_back(event::CallState{callstate::Free, 0, {}, {}});
        return PlaceResult::InvalidDialString;
    }
    call_.emplace();
    call_->dial = *dial;
    call_->preferred = preferredFormat;
    call_->allowed = allowedFormats | preferredFormat;
    reportCallState(callstate::Active | callstate::Outgoing);
    requestResolve(call_->resolveTicket, call_->dial.server);
    return PlaceResult::Placed;
}

void Client::startCall(std::uint64_t now, const Address &peer)
{
    Dialog *opened = openDialog(now, DialogKind::Call, peer);
    if (!opened) {
        endCall(now, callstate::Free, "Cannot place the call: too many dialogs open", std::nullopt);
        return;
    }
    Dialog &d = *opened;
    d.user = call_->dial.user;
    d.password = call_->dial.password;
    d.request = iaxcmd::New;
    IeBuilder ies;
    ies.u16(ie::Version, kProtocolVersion)
        .text(ie::CalledNumber, call_->dial.number)
        .text(ie::Username, call_->dial.user)
        .u32(ie::Format, call_->preferred)
        .u32(ie::Capability, call_->allowed);
    if (options_.offerEncryption)
        ies.u16(ie::Encryption, encryption::Aes128);
    d.requestIes = ies.take();
    call_->dialogCall = d.leg.localCall();
    sendRequest(now, d, nullptr);
}

void Client::reportCallState(int state)
{
    call_->state = state;
    events_.push_back(event::CallState{state, call_->format, call_->dial.number, call_->dial.user});
}

void Client::endCall(std::uint64_t now, int finalState, const std::string &why,
                     std::optional<std::uint8_t> hangupCause)
{
    if (!call_)
        return;
    if (call_->dialogCall) {
        if (Dialog *found = callDialog()) {
            Dialog &d = *found;
            // Voice, pings and digits still unacknowledged mean nothing once the call ends.
            d.leg.dropPending();
            if (hangupCause && !d.leg.failed()) {
                d.hungUp = true;
                d.leg.send(now, frametype::Iax, iaxcmd::Hangup,
                           IeBuilder()
                               .text(ie::Cause, why.empty() ? "Normal Clearing" : why)
                               .u8(ie::CauseCode, *hangupCause)
                               .take(),
                           d.held);
                d.heldUntil = now + options_.finalFrameDelayMs;
            }
            endpoint_.finish(now, d);
        }
    }
    if (!why.empty())
        text(why);
    reportCallState(finalState);
    call_.reset();
}

void Client::hangup(std::uint64_t now)
{
    endCall(now, callstate::Free, std::string(), cause::NormalClearing);
}

bool Client::sendDtmf(std::uint64_t now, char digit)
{
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(digit)));
    const bool valid = (upper >= '0' && upper <= '9') || upper == '*' || upper == '#' || (upper >= 'A' && upper <= 'D');
    if (!valid || !call_ || !call_->accepted)
        return false;
    Dialog *d = callDialog();
    if (!d)
        return false;
    d->leg.send(now, frametype::DtmfEnd, static_cast<std::uint8_t>(upper), {}, transmits_);
    return true;
}

bool Client::sendVoice(std::uint64_t now, std::uint32_t format, const Bytes &data,
                       std::optional<std::uint32_t> timestamp)
{
    if (!call_ || !(call_->state & callstate::Complete) || data.empty())
        return false;
    Dialog *d = callDialog();
    if (!d)
        return false;
    d->sendVoice(now, format, data, timestamp ? *timestamp : d->leg.elapsed(now), transmits_);
    return true;
}

std::optional<std::uint32_t> Client::callTimestamp(std::uint64_t now) const
{
    if (!call_ || !call_->accepted)
        return std::nullopt;
    const Dialog *d = endpoint_.find(call_->dialogCall);
    if (!d)
        return std::nullopt;
    return d->leg.elapsed(now);
}

bool Client::sendLinkProbe(std::uint64_t now, const ReceiverReport &ours)
{
    if (!call_ || !call_->accepted)
        return false;
    Dialog *d = callDialog();
    if (!d)
        return false;
    call_->ourReport = ours;
    IeBuilder report;
    appendReceiverReport(report, ours);
    d->leg.send(now, frametype::Iax, iaxcmd::Ping, report.take(), transmits_);
    return true;
}

void Client::takeLinkFigures(Dialog &d, const FullFrame &f, std::uint64_t now)
{
    if (f.subclass != iaxcmd::Ping) {
        // The answer carries our request's timestamp back; a figure from the
        // future or from before the call is a peer's mistake, not a time.
        const std::uint32_t elapsed = d.leg.elapsed(now);
        if (f.timestamp <= elapsed && elapsed - f.timestamp < 60000)
            call_->link.rttMs = elapsed - f.timestamp;
    }
    if (const auto ies = IeList::parse(f.payload))
        if (auto report = readReceiverReport(*ies))
            call_->link.remote = report;
}

void Client::receiveVoice(std::uint64_t now, std::uint32_t timestamp, const Bytes &data)
{
    call_->receivedVoiceTimestamp = timestamp;
    call_->receivedVoiceAt = now;
    call_->heardVoice = true;
    if (voice_.size() >= kMaxQueuedVoice)
        return; // nobody is taking it: better lose voice than grow without bound
    voice_.push_back({timestamp, call_->receivedVoiceFormat, data});
}

void Client::handleMini(std::uint64_t now, const Address &from, const MiniFrame &m, bool sealed)
{
    if (!call_ || !call_->accepted || call_->receivedVoiceFormat == 0)
        return; // a full voice frame must say the format first
    const Dialog *d = callDialog();
    if (!d || d->leg.peer() != from || d->leg.remoteCall() != m.sourceCall)
        return;
    std::uint32_t ts = unwrapMiniTimestamp(call_->receivedVoiceTimestamp, m.timestamp);
    if (call_->voiceJump) {
        const std::uint32_t onJump = unwrapMiniTimestamp(*call_->voiceJump, m.timestamp);
        const auto distance = [](std::uint32_t a, std::uint32_t b) { return a > b ? a - b : b - a; };
        if (distance(ts, call_->receivedVoiceTimestamp) > kVoiceJumpMs)
            ts = onJump; // the sender's clock did jump: go on from the new one
        call_->voiceJump.reset();
    } else if (sealed) {
        // Without a key anyone can send bytes that open to some frame. Voice
        // that opened must also look like the stream it claims to continue:
        // whole GSM frames, and a timestamp neither more than a second before
        // the last nor further after it than the time that passed plus a
        // second. (A sender whose stamps count its frames falls behind the
        // clock after a stall of its own, so nothing tighter holds.)
        const std::int64_t last = call_->receivedVoiceTimestamp;
        const std::int64_t passed = static_cast<std::int64_t>(now - call_->receivedVoiceAt);
        const bool inStream = std::int64_t(ts) >= last - kVoiceJumpMs && std::int64_t(ts) <= last + passed + kVoiceJumpMs;
        if (!plausibleOpenedVoice(call_->receivedVoiceFormat, m.payload)) {
            endpoint_.countUndecryptable();
            return;
        }
        if (!inStream) {
            // Whole GSM frames off the stream. One is taken for noise; a second
            // that goes on from it within a second is the sender's stream,
            // moved: follow it rather than fall silent for good.
            const std::optional<std::uint32_t> stray = call_->strayVoiceTimestamp;
            const std::uint32_t strayTs = stray ? unwrapMiniTimestamp(*stray, m.timestamp) : 0;
            if (!stray || strayTs <= *stray || strayTs - *stray > kVoiceJumpMs) {
                call_->strayVoiceTimestamp = ts;
                endpoint_.countUndecryptable();
                return;
            }
            ts = strayTs;
        }
    }
    call_->strayVoiceTimestamp.reset();
    receiveVoice(now, ts, m.payload);
}

void Client::onCallFrame(std::uint64_t now, Dialog &d, const FullFrame &f)
{
    if (!call_ || call_->dialogCall != d.leg.localCall())
        return;
    switch (f.type) {
    case frametype::Iax:
        onCallCommand(now, d, f);
        break;
    case frametype::Control:
        onCallControl(now, d, f.subclass);
        break;
    case frametype::Voice:
        onVoiceFrame(now, f);
        break;
    case frametype::DtmfEnd:
        events_.push_back(event::Dtmf{static_cast<char>(f.subclass)});
        break;
    default:
        break;
    }
}

void Client::onCallCommand(std::uint64_t now, Dialog &d, const FullFrame &f)
{
    switch (f.subclass) {
    case iaxcmd::AuthReq:
        onAuthRequest(now, d, f);
        return;
    case iaxcmd::Accept:
        onAccept(now, f);
        return;
    case iaxcmd::Hangup:
        onPeerEnded(now, d, causeOf(f, "Hung up"));
        return;
    case iaxcmd::Reject:
        onPeerEnded(now, d, causeOf(f, "Rejected"));
        return;
    case iaxcmd::Ping:
        onPing(now, d, f);
        return;
    case iaxcmd::Pong:
    case iaxcmd::LagRp:
        takeLinkFigures(d, f, now);
        return;
    case iaxcmd::LagRq:
        d.answerProbe(now, f, {}, transmits_);
        return;
    case iaxcmd::Unsupport:
    case iaxcmd::Quelch:
    case iaxcmd::Unquelch:
        return; // nothing we must act on
    default:
        // Never about an UNSUPPORT, so two peers cannot answer each other forever.
        if (f.subclass <= 0xff)
            d.leg.send(now, frametype::Iax, iaxcmd::Unsupport,
                       IeBuilder().u8(ie::IaxUnknown, static_cast<std::uint8_t>(f.subclass)).take(), transmits_);
        return;
    }
}

void Client::onAuthRequest(std::uint64_t now, Dialog &d, const FullFrame &f)
{
    const auto ies = IeList::parse(f.payload);
    const auto methods = ies ? ies->u16(ie::AuthMethods) : std::nullopt;
    const auto challenge = ies ? ies->text(ie::Challenge) : std::nullopt;
    if (d.answeredChallenge || !methods || !(*methods & authmethod::Md5) || !challenge) {
        endCall(now, callstate::Free, "The server asks for an authentication we do not offer",
                cause::FacilityRejected);
        return;
    }
    d.answeredChallenge = true;
    d.leg.send(now, frametype::Iax, iaxcmd::AuthRep,
               IeBuilder().text(ie::Md5Result, md5ChallengeAnswer(*challenge, d.password)).take(), transmits_);
}

void Client::onAccept(std::uint64_t now, const FullFrame &f)
{
    const auto ies = IeList::parse(f.payload);
    const auto format = ies ? ies->u32(ie::Format) : std::nullopt;
    call_->format = format ? *format : call_->preferred;
    if (!(call_->format & call_->allowed)) {
        endCall(now, callstate::Free, "The server chose a voice format we do not have", cause::BearerNotAvailable);
        return;
    }
    call_->accepted = true;
    call_->nextPingAt = now + options_.pingIntervalMs;
}

void Client::onPeerEnded(std::uint64_t now, Dialog &d, const std::string &why)
{
    d.leg.dropPending(); // the peer has ended the call: nothing of ours is worth repeating
    endpoint_.finish(now, d);
    endCall(now, callstate::Free, why, std::nullopt);
}

void Client::onPing(std::uint64_t now, Dialog &d, const FullFrame &f)
{
    takeLinkFigures(d, f, now);
    IeBuilder report;
    if (call_->ourReport)
        appendReceiverReport(report, *call_->ourReport);
    d.answerProbe(now, f, report.take(), transmits_);
}

void Client::onCallControl(std::uint64_t now, Dialog &d, std::uint32_t subclass)
{
    switch (subclass) {
    case control::Ringing:
        if (!(call_->state & callstate::Ringing) && !(call_->state & callstate::Complete))
            reportCallState(call_->state | callstate::Ringing);
        return;
    case control::Answer:
        if (!(call_->state & callstate::Complete))
            reportCallState((call_->state & ~callstate::Ringing) | callstate::Complete);
        return;
    case control::Busy:
        endCall(now, callstate::Busy, "Busy", cause::UserBusy);
        return;
    case control::Congestion:
        endCall(now, callstate::Free, "Congestion", cause::Congestion);
        return;
    case control::Hangup:
        onPeerEnded(now, d, "Hung up");
        return;
    default:
        // -1 (stop the indication), PROGRESS, PROCEEDING, HOLD, UNHOLD,
        // SRCUPDATE and the rest: acknowledged like every frame, and
        // nothing for the line's state. Voice plays whenever it comes.
        return;
    }
}

void Client::onVoiceFrame(std::uint64_t now, const FullFrame &f)
{
    if (!call_->accepted || f.subclass == 0)
        return;
    call_->receivedVoiceFormat = f.subclass;
    const std::uint32_t last = call_->receivedVoiceTimestamp;
    const std::uint32_t distance = f.timestamp > last ? f.timestamp - last : last - f.timestamp;
    if (call_->heardVoice && distance > kVoiceJumpMs) {
        // Played as it is, but mini frames keep their old base until they show which clock is right.
        call_->voiceJump = f.timestamp;
        if (voice_.size() < kMaxQueuedVoice)
            voice_.push_back({f.timestamp, call_->receivedVoiceFormat, f.payload});
    } else {
        call_->voiceJump.reset();
        receiveVoice(now, f.timestamp, f.payload);
    }
}

// ---------------------------------------------------------------- incoming datagrams

void Client::resolved(std::uint64_t now, std::uint64_t ticket, const std::optional<Address> &address)
{
    for (auto &entry : registrations_) {
        Registration &r = entry.second;
        if (r.state != Registration::State::Resolving || r.resolveTicket != ticket)
            continue;
        if (address) {
            r.address = address;
            startRegisterRequest(now, r);
        } else {
            text("Cannot find the server " + r.server.host);
            registrationOutcome(now, r, RegistrationReply::Timeout, 0);
        }
        return;
    }
    if (call_ && call_->dialogCall == 0 && call_->resolveTicket == ticket) {
        if (address)
            startCall(now, *address);
        else
            endCall(now, callstate::Free, "Cannot find the server " + call_->dial.server.host, std::nullopt);
    }
}

Client::Dialog *Client::callDialog()
{
    Dialog *d = call_ ? endpoint_.find(call_->dialogCall) : nullptr;
    return d && !d->finished ? d : nullptr;
}

void Client::handleDatagram(std::uint64_t now, const Address &from, const std::uint8_t *data, std::size_t size)
{
    // Mini frames carry only the peer's call number: they can be for the call alone.
    const auto callByPeer = [this](std::uint16_t peerCall) -> const Dialog * {
        const Dialog *d = call_ ? endpoint_.find(call_->dialogCall) : nullptr;
        return d && d->leg.remoteCall() == peerCall ? d : nullptr;
    };
    auto arrival = endpoint_.decode(data, size, callByPeer);
    if (arrival.mini) {
        handleMini(now, from, *arrival.mini, arrival.sealed);
    } else if (arrival.full) {
        if (arrival.sealed && !acceptableOpenedFrame(*arrival.full))
            endpoint_.countUndecryptable();
        else
            handleFull(now, from, *arrival.full);
    }
}

bool Client::acceptableOpenedFrame(const FullFrame &f) const
{
    // Voice must also be in a format the call allows.
    return f.type != frametype::Voice || !call_ || (f.subclass & call_->allowed);
}

bool Client::callEncrypted() const
{
    if (!call_)
        return false;
    const Dialog *d = endpoint_.find(call_->dialogCall);
    return d && d->leg.cipher() != nullptr;
}

void Client::prepareEncryption(Dialog &d, const FullFrame &f)
{
    // Only the first frame of the server's side, the challenge, may ask for
    // encryption; the key then also covers our ACK of it.
    if (d.kind != DialogKind::Call || d.leg.cipher() || d.answeredChallenge || d.leg.heardFromPeer()
        || f.oseqno != 0 || !options_.offerEncryption)
        return;
    const auto ies = IeList::parse(f.payload);
    const auto methods = ies ? ies->u16(ie::AuthMethods) : std::nullopt;
    const auto challenge = ies ? ies->text(ie::Challenge) : std::nullopt;
    const auto offered = ies ? ies->u16(ie::Encryption) : std::nullopt;
    if (!methods || !(*methods & authmethod::Md5) || !challenge || !offered || !(*offered & encryption::Aes128))
        return;
    d.leg.encryptWith(std::make_shared<const FrameCipher>(challengeKey(*challenge, d.password)));
}

void Client::handleFull(std::uint64_t now, const Address &from, FullFrame &f)
{
    if (f.destCall == 0) {
        if (isIax(f, iaxcmd::New))
            rejectIncoming(now, from, f);
        return;
    }
    Dialog *found = endpoint_.dialogFor(now, from, f, transmits_);
    if (!found)
        return;
    Dialog &d = *found;
    if (isIax(f, iaxcmd::CallToken)) {
        onCallToken(now, d, f);
        return;
    }
    if (d.leg.remoteCall() != 0 && f.sourceCall != d.leg.remoteCall())
        return;
    if (d.hungUp && !isUnsequenced(f.type, f.subclass))
        return; // the peer drops the call as our HANGUP arrives: even an ACK now would reach nobody
    if (isIax(f, iaxcmd::AuthReq))
        prepareEncryption(d, f);
    if (d.peerEnded) {
        // The peer has let the call go: anything it still sends gets no
        // answer, as the call is gone there once our ACK arrives; a repeat of
        // its last word is answered, once the held ACK has gone.
        if (endsCall(f) && d.held.empty())
            d.leg.receive(now, f, transmits_);
        return;
    }
    const bool last = d.kind == DialogKind::Call && !d.finished && endsCall(f) && call_
                      && call_->dialogCall == d.leg.localCall();
    Outbox answer;
    const auto receipt = d.leg.receive(now, f, last ? answer : transmits_);
    if (last && receipt == Leg::Receipt::Deliver) {
        d.peerEnded = true;
        d.held = std::move(answer);
        d.heldUntil = now + options_.finalFrameDelayMs;
    } else {
        transmits_.insert(transmits_.end(), std::make_move_iterator(answer.begin()),
                          std::make_move_iterator(answer.end()));
    }
    if (receipt == Leg::Receipt::Deliver && !d.finished)
        onFrame(now, d, f);
    else if (receipt == Leg::Receipt::Invalidated && !d.finished)
        onDialogFailed(now, d); // the peer knows no such call
}

void Client::onCallToken(std::uint64_t now, Dialog &d, const FullFrame &f)
{
    if (d.finished || d.leg.heardFromPeer() || d.tokenAttempts >= 2)
        return;
    const auto ies = IeList::parse(f.payload);
    const auto token = ies ? ies->text(ie::CallToken) : std::nullopt;
    if (!token || token->empty())
        return;
    ++d.tokenAttempts;
    d.leg.restart(now);
    sendRequest(now, d, &*token);
}

void Client::onFrame(std::uint64_t now, Dialog &d, const FullFrame &f)
{
    switch (d.kind) {
    case DialogKind::Register:
    case DialogKind::Release:
        onRegistrationFrame(now, d, f);
        break;
    case DialogKind::Call:
        onCallFrame(now, d, f);
        break;
    }
}

void Client::rejectIncoming(std::uint64_t now, const Address &from, const FullFrame &f)
{
    // Refused without keeping anything: no dialog, no retransmission. A
    // caller that missed the REJECT repeats its NEW and gets another, within
    // what the limiter lets each host have.
    const Bytes why =
        IeBuilder().text(ie::Cause, "Incoming calls are not accepted").u8(ie::CauseCode, cause::CallRejected).take();
    if (!endpoint_.replyOutside(now, from, f, iaxcmd::Reject, why, transmits_))
        return;
    text("Refused an incoming call from " + from.toString());
}

void Client::onDialogFailed(std::uint64_t now, Dialog &d)
{
    endpoint_.finish(now, d);
    if (d.kind == DialogKind::Register) {
        if (Registration *r = registrationFor(d)) {
            text("No answer from the server " + r->server.host);
            registrationOutcome(now, *r, RegistrationReply::Timeout, 0);
        }
    } else if (d.kind == DialogKind::Call && call_ && call_->dialogCall == d.leg.localCall()) {
        endCall(now, callstate::Free, "No answer from the server", std::nullopt);
    }
}

// ---------------------------------------------------------------- time

void Client::poll(std::uint64_t now)
{
    endpoint_.poll(now, transmits_, [this, now](Dialog &d) { onDialogFailed(now, d); });
    for (auto &entry : registrations_) {
        Registration &r = entry.second;
        const bool due = (r.state == Registration::State::Waiting || r.state == Registration::State::Registered)
                         && now >= r.nextAt;
        if (!due)
            continue;
        if (r.address) {
            startRegisterRequest(now, r);
        } else {
            r.state = Registration::State::Resolving;
            requestResolve(r.resolveTicket, r.server);
        }
    }
    if (call_ && call_->accepted && now >= call_->nextPingAt) {
        if (Dialog *d = callDialog())
            d->leg.send(now, frametype::Iax, iaxcmd::Ping, {}, transmits_);
        call_->nextPingAt = now + options_.pingIntervalMs;
    }
}

std::optional<std::uint64_t> Client::nextDeadline() const
{
    Deadline next = endpoint_.deadline();
    for (const auto &entry : registrations_) {
        const Registration &r = entry.second;
        if (r.state == Registration::State::Waiting || r.state == Registration::State::Registered)
            next.consider(r.nextAt);
    }
    if (call_ && call_->accepted)
        next.consider(call_->nextPingAt);
    return next.at();
}

} // namespace iax2
