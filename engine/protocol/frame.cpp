#include "frame.h"

#include "iax2_constants.h"

namespace iax2 {

namespace {

std::uint16_t read16(const std::uint8_t *p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t read32(const std::uint8_t *p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8)
           | std::uint32_t(p[3]);
}

void put16(Bytes &out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void put32(Bytes &out, std::uint32_t v)
{
    put16(out, static_cast<std::uint16_t>(v >> 16));
    put16(out, static_cast<std::uint16_t>(v));
}

} // namespace

DatagramKind classifyDatagram(const std::uint8_t *data, std::size_t size)
{
    if (size < kMiniHeaderSize)
        return DatagramKind::Invalid;
    if (data[0] & 0x80)
        return size >= kFullHeaderSize ? DatagramKind::Full : DatagramKind::Invalid;
    // A zero source call number marks a meta frame (trunk or video).
    if (read16(data) == 0)
        return DatagramKind::Meta;
    return DatagramKind::Mini;
}

std::optional<std::uint8_t> encodeSubclass(std::uint32_t value)
{
    if (value < 0x80)
        return static_cast<std::uint8_t>(value);
    if (value == kSubclassMinusOne)
        return std::uint8_t(0xff);
    if ((value & (value - 1)) != 0)
        return std::nullopt;
    std::uint8_t exponent = 0;
    while ((1u << exponent) != value)
        ++exponent;
    return static_cast<std::uint8_t>(0x80 | exponent);
}

std::uint32_t decodeSubclass(std::uint8_t octet)
{
    if (!(octet & 0x80))
        return octet;
    if (octet == 0xff)
        return kSubclassMinusOne;
    const unsigned exponent = octet & 0x7f;
    if (exponent > 31)
        return kSubclassUnknown;
    return 1u << exponent;
}

bool isUnsequenced(std::uint8_t type, std::uint32_t subclass)
{
    if (type != frametype::Iax)
        return false;
    return subclass == iaxcmd::Ack || subclass == iaxcmd::Inval || subclass == iaxcmd::TxCnt
           || subclass == iaxcmd::TxAcc || subclass == iaxcmd::Vnak;
}

std::optional<FullFrame> decodeFullFrame(const std::uint8_t *data, std::size_t size)
{
    if (size < kFullHeaderSize || !(data[0] & 0x80))
        return std::nullopt;
    FullFrame f;
    f.sourceCall = read16(data) & 0x7fff;
    f.retransmitted = (data[2] & 0x80) != 0;
    f.destCall = read16(data + 2) & 0x7fff;
    f.timestamp = read32(data + 4);
    f.oseqno = data[8];
    f.iseqno = data[9];
    f.type = data[10];
    if (f.sourceCall == 0 && f.type != frametype::Iax)
        return std::nullopt;
    f.subclass = decodeSubclass(data[11]);
    f.payload.assign(data + kFullHeaderSize, data + size);
    return f;
}

std::optional<MiniFrame> decodeMiniFrame(const std::uint8_t *data, std::size_t size)
{
    if (classifyDatagram(data, size) != DatagramKind::Mini)
        return std::nullopt;
    MiniFrame m;
    m.sourceCall = read16(data);
    m.timestamp = read16(data + 2);
    m.payload.assign(data + kMiniHeaderSize, data + size);
    return m;
}

Bytes encodeFullFrame(const FullFrame &f)
{
    const auto subclass = encodeSubclass(f.subclass);
    if (!subclass || f.sourceCall > kMaxCallNumber || f.destCall > kMaxCallNumber)
        return {};
    Bytes out;
    out.reserve(kFullHeaderSize + f.payload.size());
    put16(out, static_cast<std::uint16_t>(0x8000 | f.sourceCall));
    put16(out, static_cast<std::uint16_t>((f.retransmitted ? 0x8000 : 0) | f.destCall));
    put32(out, f.timestamp);
    out.push_back(f.oseqno);
    out.push_back(f.iseqno);
    out.push_back(f.type);
    out.push_back(*subclass);
    out.insert(out.end(), f.payload.begin(), f.payload.end());
    return out;
}

Bytes encodeMiniFrame(const MiniFrame &m)
{
    if (m.sourceCall == 0 || m.sourceCall > kMaxCallNumber)
        return {};
    Bytes out;
    out.reserve(kMiniHeaderSize + m.payload.size());
    put16(out, m.sourceCall);
    put16(out, m.timestamp);
    out.insert(out.end(), m.payload.begin(), m.payload.end());
    return out;
}

std::uint32_t unwrapMiniTimestamp(std::uint32_t last, std::uint16_t low)
{
    const std::int64_t previous = last;
    std::int64_t ts = (previous & ~std::int64_t(0xffff)) | low;
    if (ts < previous - 0x8000)
        ts += 0x10000;
    else if (ts > previous + 0x8000 && ts >= 0x10000)
        ts -= 0x10000;
    return static_cast<std::uint32_t>(ts);
}

FullFrame invalFor(const FullFrame &frame)
{
    FullFrame inval;
    inval.sourceCall = frame.destCall;
    inval.destCall = frame.sourceCall;
    inval.timestamp = frame.timestamp;
    inval.oseqno = frame.iseqno;
    inval.iseqno = frame.oseqno;
    inval.type = frametype::Iax;
    inval.subclass = iaxcmd::Inval;
    return inval;
}

FullFrame replyOutsideDialog(const FullFrame &about, std::uint8_t subclass, Bytes payload)
{
    FullFrame f;
    f.sourceCall = 0;
    f.destCall = about.sourceCall;
    f.timestamp = about.timestamp;
    f.oseqno = 0;
    f.iseqno = static_cast<std::uint8_t>(about.oseqno + 1);
    f.type = frametype::Iax;
    f.subclass = subclass;
    f.payload = std::move(payload);
    return f;
}

} // namespace iax2
