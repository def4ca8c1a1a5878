// Everything that reads datagrams from the network: the decoders, and both
// protocol cores fed a stream of arbitrary datagrams with a call and a
// registration open so that call numbers can hit live dialogs; the voice the
// client takes goes on through the jitter buffer and the GSM decoder. With
// the call encrypted, the datagrams are fed as they come, and also sealed
// with the call's key so that they reach what reads the opened frames.
#include "client.h"
#include "frame.h"
#include "frame_cipher.h"
#include "iax2_constants.h"
#include "ie.h"
#include "receive_path.h"
#include "receiver_report.h"
#include "server_core.h"
#include "test_backend.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

// Datagrams as long as an Ethernet payload: a two-byte length, then the bytes.
std::size_t nextLength(const std::uint8_t *data, std::size_t size, std::size_t pos)
{
    if (pos + 2 > size)
        return 0;
    const std::size_t wanted = ((std::size_t(data[pos]) << 8) | data[pos + 1]) % 1501;
    return std::min(wanted, size - pos - 2);
}

// What must hold after every datagram, whatever came in: dialogs within
// their cap and every queue bounded.
void check(bool holds)
{
    if (!holds)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t selector = data[0];
    ++data;
    --size;

    const iax2::FrameCipher anyKey(iax2::challengeKey("fuzz", "pw"));
    anyKey.open(data, size);
    if (auto f = iax2::decodeFullFrame(data, size)) {
        iax2::IeList::parse(f->payload);
        iax2::encodeFullFrame(*f);
    }
    iax2::decodeMiniFrame(data, size);
    if (const auto ies = iax2::IeList::parse(data, size))
        iax2::readReceiverReport(*ies);

    const iax2::Address peer = iax2::Address::v4(10, 0, 0, 2, 4569);
    std::uint64_t now = 1000;
    if (selector & 1) {
        iax2::Client client;
        client.addRegistration(now, 1, "alice", "pw", "server");
        client.placeCall(now, "alice:pw@server/999", 2, 2);
        for (const auto &r : client.takeResolveRequests())
            client.resolved(now, r.ticket, peer);
        std::optional<iax2::FrameCipher> cipher;
        if (selector & 8) {
            // The server's challenge asks for encryption: from here on the call is encrypted.
            for (const auto &t : client.takeTransmits()) {
                const auto f = iax2::decodeFullFrame(t.bytes.data(), t.bytes.size());
                if (!f || f->subclass != iax2::iaxcmd::New)
                    continue;
                iax2::FullFrame challenge;
                challenge.sourceCall = 77;
                challenge.destCall = f->sourceCall;
                challenge.iseqno = 1;
                challenge.type = iax2::frametype::Iax;
                challenge.subclass = iax2::iaxcmd::AuthReq;
                challenge.payload = iax2::IeBuilder()
                                        .u16(iax2::ie::AuthMethods, iax2::authmethod::Md5)
                                        .text(iax2::ie::Challenge, "fuzz")
                                        .u16(iax2::ie::Encryption, iax2::encryption::Aes128)
                                        .take();
                const iax2::Bytes bytes = iax2::encodeFullFrame(challenge);
                client.handleDatagram(now, peer, bytes.data(), bytes.size());
                check(client.callEncrypted());
                cipher.emplace(iax2::challengeKey("fuzz", "pw"));
            }
        }
        media::ReceivePath playout;
        // Length-prefixed datagrams, each at a later instant.
        const iax2::ClientOptions limits;
        std::size_t pos = 0;
        while (pos < size) {
            const std::size_t len = nextLength(data, size, pos);
            const iax2::Address from = (selector & 2) ? peer : iax2::Address::v4(10, 0, 0, 3, 1);
            const iax2::Bytes sealed =
                cipher && (selector & 16) ? cipher->seal(iax2::Bytes(data + pos + 2, data + pos + 2 + len)) : iax2::Bytes();
            if (!sealed.empty())
                client.handleDatagram(now, from, sealed.data(), sealed.size());
            else
                client.handleDatagram(now, from, data + pos + 2, len);
            const auto voice = client.takeVoice();
            check(voice.size() <= 500);
            for (const auto &v : voice)
                playout.put(v.timestamp, v.format, v.data, now);
            std::int16_t pcm[media::kFrameSamples];
            playout.pull(now, pcm);
            now += 300;
            client.poll(now);
            check(client.takeTransmits().size() <= 2 * iax2::kMaxUnacknowledged);
            client.takeEvents();
            check(client.dialogCount() <= limits.maxDialogs);
            check(client.queuedFrames() <= client.dialogCount() * iax2::kMaxUnacknowledged);
            pos += 2 + len;
        }
    } else {
        MemoryBackend backend;
        backend.addAccount(1, "alice", "pw");
        devserver::ServerCoreOptions options;
        options.tokenSecret = "fuzz";
        if (selector & 4) { // the echo's impairments hold voice back and send it later
            options.impairment.lossPercent = 10;
            options.impairment.jitterMs = 500;
            options.impairment.duplicatePercent = 10;
            options.impairment.reorderPercent = 10;
            options.impairment.seed = 1;
        }
        if (selector & 8)
            options.encryption = devserver::EncryptionMode::Offer;
        devserver::ServerCore server(backend, options, [] { return std::int64_t(1700000000); });
        std::optional<iax2::FrameCipher> cipher;
        if (selector & 2) {
            // Open a call and a registration the proper way, so fuzzed frames can reach them.
            for (std::uint8_t request : {iax2::iaxcmd::New, iax2::iaxcmd::RegReq}) {
                const iax2::Bytes ies = iax2::IeBuilder()
                                            .text(iax2::ie::Username, "alice")
                                            .text(iax2::ie::CalledNumber, "999")
                                            .u16(iax2::ie::Encryption, iax2::encryption::Aes128)
                                            .take();
                iax2::FullFrame f;
                f.sourceCall = request;
                f.type = iax2::frametype::Iax;
                f.subclass = request;
                f.payload = ies;
                const iax2::Bytes emptyToken = iax2::IeBuilder().empty(iax2::ie::CallToken).take();
                f.payload.insert(f.payload.end(), emptyToken.begin(), emptyToken.end());
                iax2::Bytes bytes = iax2::encodeFullFrame(f);
                server.handleDatagram(now, peer, bytes.data(), bytes.size());
                for (const auto &t : server.takeTransmits()) {
                    const auto reply = iax2::decodeFullFrame(t.bytes.data(), t.bytes.size());
                    const auto token = reply ? iax2::IeList::parse(reply->payload) : std::nullopt;
                    if (!token || !token->text(iax2::ie::CallToken))
                        continue;
                    f.payload = ies;
                    const iax2::Bytes tokenIe =
                        iax2::IeBuilder().text(iax2::ie::CallToken, *token->text(iax2::ie::CallToken)).take();
                    f.payload.insert(f.payload.end(), tokenIe.begin(), tokenIe.end());
                    bytes = iax2::encodeFullFrame(f);
                    server.handleDatagram(now, peer, bytes.data(), bytes.size());
                }
                // An encrypting server's challenge gives the key of the call.
                for (const auto &t : server.takeTransmits()) {
                    const auto reply = iax2::decodeFullFrame(t.bytes.data(), t.bytes.size());
                    const auto challenge = reply ? iax2::IeList::parse(reply->payload) : std::nullopt;
                    if (challenge && challenge->has(iax2::ie::Encryption) && challenge->text(iax2::ie::Challenge))
                        cipher.emplace(iax2::challengeKey(*challenge->text(iax2::ie::Challenge), "pw"));
                }
            }
        }
        std::size_t pos = 0;
        while (pos < size) {
            const std::size_t len = nextLength(data, size, pos);
            const iax2::Bytes sealed =
                cipher && (selector & 16) ? cipher->seal(iax2::Bytes(data + pos + 2, data + pos + 2 + len)) : iax2::Bytes();
            if (!sealed.empty())
                server.handleDatagram(now, peer, sealed.data(), sealed.size());
            else
                server.handleDatagram(now, peer, data + pos + 2, len);
            now += 300;
            server.poll(now);
            server.takeTransmits();
            check(server.dialogCount() <= options.maxDialogsPerHost);
            check(server.queuedFrames() <= server.dialogCount() * iax2::kMaxUnacknowledged + 4100);
            pos += 2 + len;
        }
    }
    return 0;
}
