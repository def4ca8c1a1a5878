// Everything that reads datagrams from the network: the decoders, and both
// protocol cores fed a stream of arbitrary datagrams with a call and a
// registration open so that call numbers can hit live dialogs; the voice the
// client takes goes on through the jitter buffer and the GSM decoder.
#include "client.h"
#include "frame.h"
#include "iax2_constants.h"
#include "ie.h"
#include "receive_path.h"
#include "receiver_report.h"
#include "server_core.h"
#include "test_backend.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

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
        media::ReceivePath playout;
        // Length-prefixed datagrams, each at a later instant.
        const iax2::ClientOptions limits;
        std::size_t pos = 0;
        while (pos < size) {
            const std::size_t len = nextLength(data, size, pos);
            client.handleDatagram(now, (selector & 2) ? peer : iax2::Address::v4(10, 0, 0, 3, 1), data + pos + 2, len);
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
        devserver::ServerCore server(backend, options, [] { return std::int64_t(1700000000); });
        if (selector & 2) {
            // Open a call and a registration the proper way, so fuzzed frames can reach them.
            for (std::uint8_t request : {iax2::iaxcmd::New, iax2::iaxcmd::RegReq}) {
                const iax2::Bytes ies =
                    iax2::IeBuilder().text(iax2::ie::Username, "alice").text(iax2::ie::CalledNumber, "999").take();
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
                server.takeTransmits();
            }
        }
        std::size_t pos = 0;
        while (pos < size) {
            const std::size_t len = nextLength(data, size, pos);
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
