// Encoding and decoding of IAX2 datagrams: full frames and mini frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace iax2 {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFullHeaderSize = 12;
constexpr std::size_t kMiniHeaderSize = 4;

struct FullFrame {
    std::uint16_t sourceCall = 0; // 15 bits
    std::uint16_t destCall = 0;   // 15 bits
    bool retransmitted = false;
    std::uint32_t timestamp = 0;
    std::uint8_t oseqno = 0;
    std::uint8_t iseqno = 0;
    std::uint8_t type = 0;
    std::uint32_t subclass = 0; // the value, not its wire form
    Bytes payload;
};

struct MiniFrame {
    std::uint16_t sourceCall = 0;
    std::uint16_t timestamp = 0; // low 16 bits of the call's timestamp
    Bytes payload;
};

enum class DatagramKind { Full, Mini, Meta, Invalid };

// What a datagram is, judged from its first bytes only.
DatagramKind classifyDatagram(const std::uint8_t *data, std::size_t size);

std::optional<FullFrame> decodeFullFrame(const std::uint8_t *data, std::size_t size);
std::optional<MiniFrame> decodeMiniFrame(const std::uint8_t *data, std::size_t size);

// Empty when the frame cannot be expressed (call numbers beyond 15 bits, a
// subclass that is neither below 0x80, nor a power of two, nor -1).
Bytes encodeFullFrame(const FullFrame &frame);
Bytes encodeMiniFrame(const MiniFrame &frame);

// The subclass -1, octet 0xFF: servers send it in Control frames to stop
// playing an indication (after ringing, after answer).
constexpr std::uint32_t kSubclassMinusOne = 0xffffffffu;
// A compressed subclass too large for 32 bits: the frame is still well formed
// and gets sequenced and acknowledged, but its meaning is unknown to us.
constexpr std::uint32_t kSubclassUnknown = 0xfffffffeu;

// The subclass octet: values below 0x80 as they are, larger powers of two as
// the C bit plus their exponent, -1 as 0xFF.
std::optional<std::uint8_t> encodeSubclass(std::uint32_t value);
// Every octet has a value; exponents beyond 31 give kSubclassUnknown.
std::uint32_t decodeSubclass(std::uint8_t octet);

// Frames that neither advance the sender's OSeqno nor get acknowledged.
bool isUnsequenced(std::uint8_t type, std::uint32_t subclass);

// The INVAL that answers a frame for a call this side does not know, so that
// the peer stops repeating it.
FullFrame invalFor(const FullFrame &frame);

// A reply sent outside any dialog (source call 0) to a frame that opens
// one: CALLTOKEN, or a refusal. Nothing is kept, so nothing is repeated.
FullFrame replyOutsideDialog(const FullFrame &about, std::uint8_t subclass, Bytes payload);

// A mini frame carries the low 16 bits of its timestamp: put back the high
// bits from the last voice timestamp, taking the nearer of the candidates
// around a wrap, so late frames from before it stay in the past.
std::uint32_t unwrapMiniTimestamp(std::uint32_t last, std::uint16_t low);

// Voice goes as a full frame first, on a format change and when the 16-bit
// timestamp wraps; as mini frames otherwise.
inline bool needsFullVoiceFrame(const std::optional<std::uint32_t> &lastTimestamp, std::uint32_t lastFormat,
                                std::uint32_t format, std::uint32_t timestamp)
{
    return !lastTimestamp || format != lastFormat || (timestamp >> 16) != (*lastTimestamp >> 16);
}

// Sequence numbers are 8-bit counters: true when a comes before b.
inline bool seqBefore(std::uint8_t a, std::uint8_t b)
{
    const std::uint8_t d = static_cast<std::uint8_t>(b - a);
    return d != 0 && d < 0x80;
}

} // namespace iax2
