#include "leg.h"

#include "iax2_constants.h"

#include <algorithm>

namespace iax2 {

Leg::Leg(std::uint16_t localCall, const Address &peer, std::uint64_t now, RetransmitPolicy policy)
    : localCall_(localCall), peer_(peer), policy_(policy), start_(now)
{
}

void Leg::emit(const FullFrame &frame, Outbox &out) const
{
    put(encodeFullFrame(frame), out);
}

void Leg::put(Bytes bytes, Outbox &out) const
{
    if (cipher_ && !bytes.empty())
        bytes = cipher_->seal(bytes);
    if (!bytes.empty())
        out.push_back({peer_, std::move(bytes)});
}

bool Leg::send(std::uint64_t now, std::uint8_t type, std::uint32_t subclass, Bytes payload, Outbox &out,
               std::optional<std::uint32_t> timestamp)
{
    const bool sequenced = !isUnsequenced(type, subclass);
    if (sequenced && pending_.size() >= kMaxUnacknowledged)
        return false;
    FullFrame f;
    f.sourceCall = localCall_;
    f.destCall = remoteCall_;
    if (timestamp) {
        f.timestamp = *timestamp;
    } else {
        // Rising timestamps let the peer tell our frames apart in its ACKs.
        const auto elapsed = static_cast<std::uint32_t>(now - start_);
        f.timestamp = (sentAny_ && elapsed <= lastTimestamp_) ? lastTimestamp_ + 1 : elapsed;
        lastTimestamp_ = f.timestamp;
        sentAny_ = true;
    }
    f.oseqno = oseqno_;
    f.iseqno = iseqno_;
    f.type = type;
    f.subclass = subclass;
    f.payload = std::move(payload);
    emit(f, out);
    if (!sequenced)
        return true;
    ++oseqno_;
    pending_.push_back({std::move(f), now + policy_.firstMs, policy_.firstMs, 0, std::nullopt});
    return true;
}

void Leg::sendMini(std::uint32_t timestamp, const Bytes &payload, Outbox &out) const
{
    MiniFrame m;
    m.sourceCall = localCall_;
    m.timestamp = static_cast<std::uint16_t>(timestamp);
    m.payload = payload;
    put(encodeMiniFrame(m), out);
}

void Leg::sendUnsequenced(std::uint8_t subclass, std::uint32_t timestamp, Outbox &out)
{
    FullFrame f;
    f.sourceCall = localCall_;
    f.destCall = remoteCall_;
    f.timestamp = timestamp;
    f.oseqno = oseqno_;
    f.iseqno = iseqno_;
    f.type = frametype::Iax;
    f.subclass = subclass;
    emit(f, out);
}

void Leg::restart(std::uint64_t now)
{
    pending_.clear();
    oseqno_ = 0;
    iseqno_ = 0;
    remoteCall_ = 0;
    start_ = now;
    sentAny_ = false;
    lastTimestamp_ = 0;
    failed_ = false;
    vnakFor_.reset();
}

bool Leg::inWindow(std::uint8_t iseqno) const
{
    const std::uint8_t oldest = pending_.empty() ? oseqno_ : pending_.front().frame.oseqno;
    return static_cast<std::uint8_t>(iseqno - oldest) <= static_cast<std::uint8_t>(oseqno_ - oldest);
}

void Leg::acknowledgeUpTo(std::uint8_t iseqno)
{
    if (!inWindow(iseqno))
        return; // acknowledges something we never sent: a stale or forged frame
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [iseqno](const Pending &p) { return seqBefore(p.frame.oseqno, iseqno); }),
                   pending_.end());
}

Leg::Receipt Leg::receive(std::uint64_t now, const FullFrame &frame, Outbox &out)
{
    if (remoteCall_ == 0 && frame.sourceCall != 0)
        remoteCall_ = frame.sourceCall;
    acknowledgeUpTo(frame.iseqno);

    if (isUnsequenced(frame.type, frame.subclass)) {
        if (frame.subclass == iaxcmd::Inval) {
            // Only an INVAL about a frame we are waiting on counts; one that
            // names nothing outstanding is stale or forged.
            if (!pending_.empty() && inWindow(frame.iseqno) && frame.iseqno != oseqno_)
                return Receipt::Invalidated;
            return Receipt::Unsequenced;
        }
        if (frame.subclass == iaxcmd::Vnak) {
            // The peer missed the frame its iseqno names (the ones before it
            // are acknowledged above): that one and all after it go again, in
            // order, unless they just went.
            for (auto &p : pending_) {
                if (p.resentForVnakAt && now < *p.resentForVnakAt + kVnakResendGapMs)
                    continue;
                p.resentForVnakAt = now;
                retransmit(p, now, out);
            }
        }
        return Receipt::Unsequenced;
    }
    if (frame.oseqno == iseqno_) {
        ++iseqno_;
        heard_ = true;
        sendUnsequenced(iaxcmd::Ack, frame.timestamp, out);
        return Receipt::Deliver;
    }
    if (seqBefore(frame.oseqno, iseqno_)) {
        // Our ACK got lost; say it again.
        sendUnsequenced(iaxcmd::Ack, frame.timestamp, out);
        return Receipt::Duplicate;
    }
    // One VNAK per gap: the peer answers each by resending everything from
    // the gap on, so one per out-of-order frame would multiply the traffic.
    if (vnakFor_ != iseqno_ || now >= vnakAt_ + kVnakRepeatMs) {
        vnakFor_ = iseqno_;
        vnakAt_ = now;
        sendUnsequenced(iaxcmd::Vnak, frame.timestamp, out);
    }
    return Receipt::OutOfOrder;
}

void Leg::retransmit(Pending &p, std::uint64_t now, Outbox &out)
{
    p.frame.retransmitted = true;
    p.frame.iseqno = iseqno_;
    p.frame.destCall = remoteCall_;
    emit(p.frame, out);
    p.due = now + p.interval;
}

void Leg::poll(std::uint64_t now, Outbox &out)
{
    if (failed_)
        return;
    for (auto &p : pending_) {
        if (now < p.due)
            continue;
        if (p.retries >= policy_.maxRetries) {
            failed_ = true;
            pending_.clear();
            return;
        }
        ++p.retries;
        p.interval = std::min(p.interval * 2, policy_.maxMs);
        retransmit(p, now, out);
    }
}

std::optional<std::uint64_t> Leg::nextDeadline() const
{
    std::optional<std::uint64_t> next;
    for (const auto &p : pending_)
        if (!next || p.due < *next)
            next = p.due;
    return next;
}

} // namespace iax2
