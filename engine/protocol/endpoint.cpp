#include "endpoint.h"

#include "frame_cipher.h"

namespace iax2 {

void Dialog::sendVoice(std::uint64_t now, std::uint32_t format, const Bytes &data, std::uint32_t timestamp,
                       Outbox &out)
{
    if (needsFullVoiceFrame(sentVoiceTimestamp, sentVoiceFormat, format, timestamp))
        leg.send(now, frametype::Voice, format, data, out, timestamp);
    else
        leg.sendMini(timestamp, data, out);
    sentVoiceTimestamp = timestamp;
    sentVoiceFormat = format;
}

bool Dialog::answerProbe(std::uint64_t now, const FullFrame &f, Bytes report, Outbox &out)
{
    if (f.type != frametype::Iax || (f.subclass != iaxcmd::Ping && f.subclass != iaxcmd::LagRq))
        return false;
    if (f.subclass == iaxcmd::Ping)
        leg.send(now, frametype::Iax, iaxcmd::Pong, std::move(report), out, f.timestamp);
    else
        leg.send(now, frametype::Iax, iaxcmd::LagRp, {}, out, f.timestamp);
    return true;
}

namespace detail {

bool sameHost(const Address &a, const Address &b)
{
    return a.family == b.family && a.bytes == b.bytes;
}

std::optional<std::uint16_t> destinationCall(const std::uint8_t *data, std::size_t size, DatagramKind kind)
{
    if (kind != DatagramKind::Full || size < kMiniHeaderSize)
        return std::nullopt;
    return static_cast<std::uint16_t>(((data[2] << 8) | data[3]) & 0x7fff);
}

std::uint16_t miniSourceCall(const std::uint8_t *data)
{
    return static_cast<std::uint16_t>((data[0] << 8) | data[1]);
}

Arrival decode(const std::uint8_t *data, std::size_t size, DatagramKind kind, const FrameCipher *cipher,
               std::uint64_t &undecryptable)
{
    // An encrypted dialog takes nothing that does not open with its key:
    // not even the plain frames it took before it was encrypted.
    Arrival arrival;
    std::optional<Bytes> opened;
    if (cipher) {
        opened = cipher->open(data, size);
        if (!opened) {
            ++undecryptable;
            return arrival;
        }
        data = opened->data();
        size = opened->size();
        arrival.sealed = true;
    }
    if (kind == DatagramKind::Mini) {
        arrival.mini = decodeMiniFrame(data, size);
        return arrival;
    }
    arrival.full = decodeFullFrame(data, size);
    if (opened && (!arrival.full || !plausibleOpenedFrame(*arrival.full))) {
        ++undecryptable;
        arrival.full.reset();
    }
    return arrival;
}

} // namespace detail

} // namespace iax2
