// One IAX2 dialog's reliable delivery: call numbers, sequence numbers,
// timestamps, acknowledgements, retransmission with back-off, VNAK.
#pragma once

#include "address.h"
#include "frame.h"

#include <cstdint>
#include <deque>
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

class Leg {
public:
    Leg(std::uint16_t localCall, const Address &peer, std::uint64_t now, RetransmitPolicy policy);

    std::uint16_t localCall() const { return localCall_; }
    std::uint16_t remoteCall() const { return remoteCall_; }
    void setRemoteCall(std::uint16_t call) { remoteCall_ = call; }
    const Address &peer() const { return peer_; }

    // Sends a full frame in this dialog. Sequenced frames are kept and sent
    // again until the peer acknowledges them. The timestamp is the time since
    // the dialog began (kept strictly rising) unless one is given.
    void send(std::uint64_t now, std::uint8_t type, std::uint32_t subclass, Bytes payload, Outbox &out,
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
        OutOfOrder,  // a gap before it: VNAK sent, frame dropped
        Unsequenced, // ACK, INVAL, VNAK and friends
    };
    // Takes the peer's acknowledgements from the frame and acknowledges it.
    Receipt receive(std::uint64_t now, const FullFrame &frame, Outbox &out);

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
    };

    void emit(const FullFrame &frame, Outbox &out) const;
    void sendUnsequenced(std::uint8_t subclass, std::uint32_t timestamp, Outbox &out);
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
    std::deque<Pending> pending_;
};

} // namespace iax2
