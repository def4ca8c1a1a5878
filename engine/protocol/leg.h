// One IAX2 dialog's reliable delivery: call numbers, sequence numbers,
// timestamps, acknowledgements, retransmission with back-off, VNAK.
#pragma once

#include "address.h"
#include "frame.h"
#include "frame_cipher.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace iax2 {

struct Transmit {
    Address to;
    Bytes bytes;
};
using Outbox = std::vector<Transmit>;

struct RetransmitPolicy {
    std::uint32_t firstMs = 500; // wait before the first retransmission
    std::uint32_t maxMs = 4000;  // the wait doubles up to this
    int maxRetries = 6;          // then the dialog has failed
};

// Sequence numbers are 8 bits: more frames in flight than half their range
// could no longer be told apart from old ones.
constexpr std::size_t kMaxUnacknowledged = 127;
// A gap in the peer's frames is asked for once, then again at most this often.
constexpr std::uint32_t kVnakRepeatMs = 500;
// A frame resent for a VNAK this recently is not resent for another: a peer
// that repeats its VNAK gets the queue once, not once per VNAK.
constexpr std::uint32_t kVnakResendGapMs = 100;

class Leg {
public:
    Leg(std::uint16_t localCall, const Address &peer, std::uint64_t now, RetransmitPolicy policy);

    std::uint16_t localCall() const { return localCall_; }
    std::uint16_t remoteCall() const { return remoteCall_; }
    void setRemoteCall(std::uint16_t call) { remoteCall_ = call; }
    const Address &peer() const { return peer_; }

    // From now on every frame of this dialog goes out encrypted, repeats
    // and ACKs included; there is no way back to plain frames.
    void encryptWith(std::shared_ptr<const FrameCipher> cipher) { cipher_ = std::move(cipher); }
    // The dialog's cipher once it is encrypted: incoming frames must open with it.
    const FrameCipher *cipher() const { return cipher_.get(); }

    // Sends a full frame in this dialog. Sequenced frames are kept and sent
    // again until the peer acknowledges them. The timestamp is the time since
    // the dialog began (kept strictly rising) unless one is given. False,
    // and nothing sent, when kMaxUnacknowledged frames await the peer's ACK.
    bool send(std::uint64_t now, std::uint8_t type, std::uint32_t subclass, Bytes payload, Outbox &out,
              std::optional<std::uint32_t> timestamp = std::nullopt);

    // Sends a mini frame: voice with the low 16 bits of its timestamp, unsequenced.
    void sendMini(std::uint32_t timestamp, const Bytes &payload, Outbox &out) const;
    // Milliseconds since the dialog began, the base of its timestamps.
    std::uint32_t elapsed(std::uint64_t now) const { return static_cast<std::uint32_t>(now - start_); }

    // Starts the dialog over, as after a call token: nothing sent so far
    // counts any more and OSeqno starts at 0 again.
    void restart(std::uint64_t now);

    enum class Receipt {
        Deliver,     // the next frame in order: act on it
        Duplicate,   // seen before: acknowledged again, nothing else to do
        OutOfOrder,  // a gap before it: dropped, the gap asked for (VNAK)
        Unsequenced, // ACK, VNAK and friends, or an INVAL that names nothing we sent
        Invalidated, // an INVAL for a frame we are waiting on: the peer has no such call
    };
    // Takes the peer's acknowledgements from the frame and acknowledges it.
    // Acknowledgements count only for frames actually outstanding.
    Receipt receive(std::uint64_t now, const FullFrame &frame, Outbox &out);

    // Forgets every frame still awaiting acknowledgement, keeping the
    // sequence: what was queued before a hangup is moot after it.
    void dropPending() { pending_.clear(); }
    // Frames sent and not yet acknowledged.
    std::size_t unacknowledged() const { return pending_.size(); }

    void poll(std::uint64_t now, Outbox &out);
    std::optional<std::uint64_t> nextDeadline() const;

    // The peer stopped answering: retries ran out.
    bool failed() const { return failed_; }
    // Everything sent has been acknowledged.
    bool idle() const { return pending_.empty(); }
    // Whether any sequenced frame came from the peer yet.
    bool heardFromPeer() const { return heard_; }

private:
    struct Pending {
        FullFrame frame;
        std::uint64_t due = 0;
        std::uint32_t interval = 0;
        int retries = 0;
        std::optional<std::uint64_t> resentForVnakAt;
    };

    void emit(const FullFrame &frame, Outbox &out) const;
    void put(Bytes bytes, Outbox &out) const;
    void sendUnsequenced(std::uint8_t subclass, std::uint32_t timestamp, Outbox &out);
    // Whether the peer's iseqno names one of our outstanding frames or the
    // next one we will send.
    bool inWindow(std::uint8_t iseqno) const;
    void acknowledgeUpTo(std::uint8_t iseqno);
    void retransmit(Pending &p, std::uint64_t now, Outbox &out);

    std::uint16_t localCall_;
    std::uint16_t remoteCall_ = 0;
    Address peer_;
    RetransmitPolicy policy_;
    std::uint64_t start_;
    std::uint32_t lastTimestamp_ = 0;
    bool sentAny_ = false;
    std::uint8_t oseqno_ = 0;
    std::uint8_t iseqno_ = 0;
    bool heard_ = false;
    bool failed_ = false;
    std::optional<std::uint8_t> vnakFor_; // the gap last asked for
    std::uint64_t vnakAt_ = 0;
    std::deque<Pending> pending_;
    std::shared_ptr<const FrameCipher> cipher_;
};

} // namespace iax2
