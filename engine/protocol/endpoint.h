// What sits above single dialogs at either end of IAX2: the table of open
// dialogs and which one a datagram is for, replies to strangers that keep
// no state, the end of finished dialogs, the next deadline, and how voice
// goes out on a dialog. Each core keeps its own kind of dialog in it.
#pragma once

#include "address.h"
#include "frame.h"
#include "guard.h"
#include "iax2_constants.h"
#include "leg.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace iax2 {

// The earliest of the instants shown to it.
class Deadline {
public:
    void consider(std::uint64_t t)
    {
        if (!at_ || t < *at_)
            at_ = t;
    }
    void consider(const std::optional<std::uint64_t> &t)
    {
        if (t)
            consider(*t);
    }
    std::optional<std::uint64_t> at() const { return at_; }

private:
    std::optional<std::uint64_t> at_;
};

// What every dialog has, whichever end keeps it; each core adds its own.
struct Dialog {
    explicit Dialog(Leg l) : leg(std::move(l)) {}

    Leg leg;
    bool finished = false; // over: it only acknowledges late repeats until reaped
    std::uint64_t lingerUntil = 0;
    std::optional<std::uint32_t> sentVoiceTimestamp;
    std::uint32_t sentVoiceFormat = 0;
    // A dialog's last frame (a HANGUP, the ACK of the peer's), held back
    // until heldUntil so that it trails what was sent just before it.
    Outbox held;
    std::uint64_t heldUntil = 0;

    // Sends one packet of encoded voice: a full voice frame first, on a
    // format change and when the 16-bit timestamp wraps, mini frames
    // otherwise; encrypted when the dialog is.
    void sendVoice(std::uint64_t now, std::uint32_t format, const Bytes &data, std::uint32_t timestamp, Outbox &out);
    // Answers a PING with a PONG carrying `report`, a LAGRQ with a LAGRP,
    // each with the request's timestamp; false for any other frame.
    bool answerProbe(std::uint64_t now, const FullFrame &f, Bytes report, Outbox &out);
};

// A datagram made ready for its core: a full or mini frame, or nothing
// (not IAX2, malformed, or sealed with a key it did not open with).
struct Arrival {
    std::optional<FullFrame> full;
    std::optional<MiniFrame> mini;
    bool sealed = false; // opened with its dialog's key
};

struct EndpointOptions {
    RetransmitPolicy retransmit;
    std::uint32_t lingerMs = 3000; // an ended dialog still acknowledges late repeats
    std::size_t maxDialogs = 256;
    std::size_t maxDialogsPerHost = std::numeric_limits<std::size_t>::max();
    ReplyLimiter::Options replies;
};

namespace detail {
bool sameHost(const Address &a, const Address &b);
// The dialog a datagram names by our call number: a full frame's
// destination; none for anything else.
std::optional<std::uint16_t> destinationCall(const std::uint8_t *data, std::size_t size, DatagramKind kind);
// The peer's call number a mini frame carries.
std::uint16_t miniSourceCall(const std::uint8_t *data);
// Opens and decodes a datagram; `cipher` is the key of the dialog it is
// for, if that dialog is encrypted. Nothing, and `undecryptable` counted,
// when a sealed datagram does not open to a plausible frame.
Arrival decode(const std::uint8_t *data, std::size_t size, DatagramKind kind, const FrameCipher *cipher,
               std::uint64_t &undecryptable);
} // namespace detail

// D derives from Dialog and is made from a Leg and the arguments to open().
template <typename D>
class Endpoint {
public:
    explicit Endpoint(EndpointOptions options) : options_(options), replies_(options.replies) {}

    // Opens a dialog with `peer` under a fresh call number of ours; null
    // when no more may be open (for all, or for that host).
    template <typename... Args>
    D *open(std::uint64_t now, const Address &peer, Args &&...args)
    {
        if (dialogs_.size() >= options_.maxDialogs)
            return nullptr;
        // One host may not take every slot: the others' calls must still get in.
        const auto fromHost = [&peer](const auto &entry) { return detail::sameHost(entry.second.leg.peer(), peer); };
        if (options_.maxDialogsPerHost < options_.maxDialogs
            && static_cast<std::size_t>(std::count_if(dialogs_.begin(), dialogs_.end(), fromHost))
                   >= options_.maxDialogsPerHost)
            return nullptr;
        const std::uint16_t number = numbers_.allocate([this](std::uint16_t n) { return dialogs_.count(n) != 0; });
        if (number == 0)
            return nullptr;
        Leg leg(number, peer, now, options_.retransmit);
        return &dialogs_.emplace(number, D(std::move(leg), std::forward<Args>(args)...)).first->second;
    }

    D *find(std::uint16_t number)
    {
        const auto it = dialogs_.find(number);
        return it == dialogs_.end() ? nullptr : &it->second;
    }
    const D *find(std::uint16_t number) const
    {
        const auto it = dialogs_.find(number);
        return it == dialogs_.end() ? nullptr : &it->second;
    }

    // Frames that carry only the peer's call number (a repeated NEW, mini
    // frames) find their dialog through this index.
    void bindPeerCall(const Address &peer, std::uint16_t peerCall, std::uint16_t number)
    {
        byPeerCall_[{peer, peerCall}] = number;
    }
    D *byPeerCall(const Address &peer, std::uint16_t peerCall)
    {
        const auto known = byPeerCall_.find({peer, peerCall});
        return known == byPeerCall_.end() ? nullptr : find(known->second);
    }

    std::map<std::uint16_t, D> &dialogs() { return dialogs_; }
    const std::map<std::uint16_t, D> &dialogs() const { return dialogs_; }
    std::size_t size() const { return dialogs_.size(); }

    // A datagram from `from`, opened with its dialog's key when that dialog
    // is encrypted. Full frames name the dialog by our call number; mini
    // frames by the peer's, through `miniOwner(peerCall)` (a D pointer).
    template <typename MiniOwner>
    Arrival decode(const std::uint8_t *data, std::size_t size, MiniOwner miniOwner)
    {
        const DatagramKind kind = classifyDatagram(data, size);
        if (kind != DatagramKind::Full && kind != DatagramKind::Mini)
            return {};
        const Dialog *owner = nullptr;
        if (size >= kMiniHeaderSize) {
            if (const auto number = detail::destinationCall(data, size, kind))
                owner = find(*number);
            else if (kind == DatagramKind::Mini)
                owner = miniOwner(detail::miniSourceCall(data));
        }
        return detail::decode(data, size, kind, owner ? owner->leg.cipher() : nullptr, undecryptable_);
    }
    Arrival decode(const Address &from, const std::uint8_t *data, std::size_t size)
    {
        return decode(data, size, [this, &from](std::uint16_t peerCall) { return byPeerCall(from, peerCall); });
    }

    // The dialog a full frame with our call number is for, when it came
    // from that dialog's peer. A frame for a call we do not know gets an
    // INVAL, so the peer stops repeating it.
    D *dialogFor(std::uint64_t now, const Address &from, const FullFrame &f, Outbox &out)
    {
        D *d = find(f.destCall);
        if (!d) {
            if (!isUnsequenced(f.type, f.subclass) && !(f.type == frametype::Iax && f.subclass == iaxcmd::CallToken)
                && f.sourceCall != 0 && replies_.allow(from, now))
                out.push_back({from, encodeFullFrame(invalFor(f))});
            return nullptr;
        }
        return d->leg.peer() == from ? d : nullptr; // not the dialog's peer: maybe spoofed, never acted on
    }

    // A reply to a frame outside any dialog (a refusal, a call token):
    // nothing is kept for an address that has not shown it receives what
    // we send, and a forged flood gets only a few. False when held back.
    bool replyOutside(std::uint64_t now, const Address &to, const FullFrame &about, std::uint8_t subclass,
                      Bytes payload, Outbox &out)
    {
        if (about.sourceCall == 0 || !replies_.allow(to, now))
            return false;
        out.push_back({to, encodeFullFrame(replyOutsideDialog(about, subclass, std::move(payload)))});
        return true;
    }

    void finish(std::uint64_t now, Dialog &d) const
    {
        d.finished = true;
        d.lingerUntil = now + options_.lingerMs;
    }

    // Sends held frames and retransmits what is due. `onFailed(D &)` hears of each dialog whose
    // peer stopped answering just now; then finished dialogs whose frames
    // are all acknowledged (or given up) and whose linger is over go.
    template <typename OnFailed>
    void poll(std::uint64_t now, Outbox &out, OnFailed onFailed)
    {
        std::vector<std::uint16_t> failed;
        for (auto &entry : dialogs_) {
            Dialog &d = entry.second;
            if (!d.held.empty() && now >= d.heldUntil) {
                out.insert(out.end(), std::make_move_iterator(d.held.begin()), std::make_move_iterator(d.held.end()));
                d.held.clear();
            }
            const bool wasFailed = d.leg.failed();
            d.leg.poll(now, out);
            if (!wasFailed && d.leg.failed() && !d.finished)
                failed.push_back(entry.first);
        }
        for (const auto number : failed)
            if (D *d = find(number))
                onFailed(*d);
        reap(now);
    }

    // When poll() has work next: retransmissions and lingers' ends.
    Deadline deadline() const
    {
        Deadline next;
        for (const auto &entry : dialogs_) {
            const Dialog &d = entry.second;
            next.consider(d.leg.nextDeadline());
            if (!d.held.empty())
                next.consider(d.heldUntil);
            if (d.finished)
                next.consider(d.lingerUntil);
        }
        return next;
    }

    // Frames of ours awaiting acknowledgement, over all dialogs.
    std::size_t queuedFrames() const
    {
        std::size_t n = 0;
        for (const auto &entry : dialogs_)
            n += entry.second.leg.unacknowledged();
        return n;
    }

    // Datagrams of encrypted dialogs that did not open to a well-formed
    // frame (wrong key, plain, cut, forged): dropped, never acted on.
    std::uint64_t undecryptable() const { return undecryptable_; }
    // A core's own check found an opened frame implausible.
    void countUndecryptable() { ++undecryptable_; }

private:
    void reap(std::uint64_t now)
    {
        for (auto it = dialogs_.begin(); it != dialogs_.end();) {
            const Dialog &d = it->second;
            if (!(d.finished && (d.leg.idle() || d.leg.failed()) && d.held.empty() && now >= d.lingerUntil)) {
                ++it;
                continue;
            }
            for (auto p = byPeerCall_.begin(); p != byPeerCall_.end();) {
                if (p->second == it->first)
                    p = byPeerCall_.erase(p);
                else
                    ++p;
            }
            it = dialogs_.erase(it);
        }
    }

    EndpointOptions options_;
    ReplyLimiter replies_;
    CallNumbers numbers_;
    std::map<std::uint16_t, D> dialogs_;
    std::map<std::pair<Address, std::uint16_t>, std::uint16_t> byPeerCall_;
    std::uint64_t undecryptable_ = 0;
};

} // namespace iax2
