// Voice and link figures between the two protocol cores with a fake clock:
// the echo returns what the client sends, the impairments do what they say,
// PING/PONG carry round-trip time and receiver reports both ways, and
// tshark reads the voice and the reports without complaint.
#include "pcap_writer.h"

#include "iax2_constants.h"
#include "jitter_buffer.h"
#include "receiver_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <unistd.h>

using namespace iax2;

namespace {

const std::string kEcho = "alice:wonderland@server/999";

Bytes gsmLike(std::uint8_t n)
{
    Bytes b(33, n);
    b[0] = 0xD0;
    return b;
}

// Places an echo call and sends count frames 20 ms apart, starting at timestamp first.
void talk(Session &s, int count, std::uint32_t first = 100)
{
    for (int i = 0; i < count; ++i) {
        s.client.sendVoice(s.now, format::Gsm, gsmLike(static_cast<std::uint8_t>(i)), first + 20u * i);
        s.advance(20);
    }
}

void callEcho(Session &s)
{
    s.client.placeCall(s.now, kEcho, format::Gsm, format::Gsm);
    s.settle();
}

} // namespace

TEST(EchoVoice, EchoReturnsEachFrameWithItsTimestampAcrossTheMiniFrameWrap)
{
    Session s;
    callEcho(s);
    ASSERT_EQ(s.states().back(), 0x16);
    // Start just before the 16-bit wrap, so the echo needs a second full frame.
    talk(s, 10, 65500);
    const auto back = s.client.takeVoice();
    ASSERT_EQ(back.size(), 10u);
    for (std::size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].timestamp, 65500 + 20 * i);
        EXPECT_EQ(back[i].format, format::Gsm);
        EXPECT_EQ(back[i].data, gsmLike(static_cast<std::uint8_t>(i)));
    }
}

TEST(EchoVoice, ImpairmentsLoseDuplicateAndDelayOnlyVoice)
{
    devserver::ServerCoreOptions lossy;
    lossy.impairment.lossPercent = 100;
    Session silent(Session::clientOptions(), lossy);
    callEcho(silent);
    talk(silent, 20);
    EXPECT_TRUE(silent.client.takeVoice().empty());
    silent.client.sendDtmf(silent.now, '5'); // signalling is never touched
    silent.advance(100);
    EXPECT_EQ(silent.backend.records().back().dtmf, "5");

    devserver::ServerCoreOptions doubled;
    doubled.impairment.duplicatePercent = 100;
    doubled.impairment.seed = 3;
    Session twice(Session::clientOptions(), doubled);
    callEcho(twice);
    talk(twice, 20);
    twice.advance(100);
    // The first frame is a full one: its repeat is known by its sequence number.
    EXPECT_EQ(twice.client.takeVoice().size(), 39u);

    devserver::ServerCoreOptions jittery;
    jittery.impairment.jitterMs = 200;
    jittery.impairment.reorderPercent = 50;
    jittery.impairment.seed = 4;
    Session late(Session::clientOptions(), jittery);
    callEcho(late);
    talk(late, 50);
    late.advance(500);
    const auto back = late.client.takeVoice();
    // Mini frames that overtake the first, full frame cannot be read yet (no format) and are lost.
    ASSERT_GE(back.size(), 45u);
    bool reordered = false;
    for (std::size_t i = 1; i < back.size(); ++i)
        reordered |= back[i].timestamp < back[i - 1].timestamp;
    EXPECT_TRUE(reordered);
}

TEST(EchoVoice, ImpairmentLimitedInTimeEndsThatLongAfterTheAnswer)
{
    devserver::ServerCoreOptions lossy;
    lossy.impairment.lossPercent = 100;
    lossy.impairment.forMs = 1000;
    Session s(Session::clientOptions(), lossy);
    callEcho(s);
    talk(s, 20, 100);
    EXPECT_TRUE(s.client.takeVoice().empty());
    s.advance(1000);
    // Past the first second of the call, the same voice comes back whole
    // (and the first full frame, lost before, may come again).
    talk(s, 20, 1500);
    EXPECT_GE(s.client.takeVoice().size(), 20u);
}

TEST(EchoVoice, LinkProbeGivesRoundTripTimeAndBothReceiverReports)
{
    Session s;
    callEcho(s);
    talk(s, 25);
    // The server's report counts what it received from us.
    ReceiverReport ours;
    ours.packets = 25;
    ours.jitter = 3;
    ours.lossCount = 1;
    ours.lossPercent = 4;
    ASSERT_TRUE(s.client.sendLinkProbe(s.now, ours));
    s.settle();
    const auto link = s.client.link();
    ASSERT_TRUE(link.rttMs);
    EXPECT_EQ(*link.rttMs, 0u); // the fake network delivers at once
    ASSERT_TRUE(link.remote);
    EXPECT_EQ(link.remote->packets, 25u);
    EXPECT_EQ(link.remote->lossCount, 0u);

    // The server's own PING gets our last report in the PONG.
    s.advance(20000);
    bool pongWithReport = false;
    for (const auto &d : s.wire) {
        const auto f = decodeFullFrame(d.bytes.data(), d.bytes.size());
        if (!f || d.to != s.serverAddress || f->type != frametype::Iax || f->subclass != iaxcmd::Pong)
            continue;
        const auto ies = IeList::parse(f->payload);
        const auto report = ies ? readReceiverReport(*ies) : std::nullopt;
        pongWithReport |= report && report->packets == 25 && report->lossPercent == 4;
    }
    EXPECT_TRUE(pongWithReport);
    EXPECT_FALSE(Client().sendLinkProbe(0, ours)); // no call, nothing sent
}

TEST(Tshark, ReadsVoiceAndReceiverReports)
{
    const std::string tshark = TSHARK_PATH;
    if (tshark.empty() || tshark.find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "tshark is not installed";
    Session s;
    callEcho(s);
    talk(s, 5);
    ReceiverReport ours;
    ours.packets = 5;
    s.client.sendLinkProbe(s.now, ours);
    s.settle();
    s.client.hangup(s.now);
    s.advance(500);

    char dir[] = "/tmp/ondavox-pcap-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/voice.pcap";
    ASSERT_TRUE(writePcap(path, s.wire));
    const std::string verbose = run("'" + tshark + "' -r " + path + " -V 2>&1");
    EXPECT_EQ(verbose.find("Malformed"), std::string::npos) << verbose;
    EXPECT_EQ(verbose.find("[Severity level: Error]"), std::string::npos) << verbose;
    const std::string fields =
        run("'" + tshark + "' -r " + path + " -T fields -e iax2.packet_type -e iax2.iax.rrpkts 2>/dev/null");
    EXPECT_NE(fields.find("0\t"), std::string::npos) << fields;          // mini frames, read as such
    EXPECT_NE(fields.find("0x00000005"), std::string::npos) << fields; // the reports' packet counts, read back
    std::remove(path.c_str());
    ::rmdir(dir);
}

TEST(PeerVoice, PlaysAcrossWrapsAFarFutureFrameAndAClockRestart)
{
    // We play the server ourselves once the call is up: 150 s of 20 ms
    // voice as Asterisk sends it (a full voice frame first and at each wrap
    // of the 16-bit mini-frame timestamp, mini frames otherwise), with one
    // frame stamped far in the future at 30 s and the sender's clock
    // starting again from zero at 100 s. What comes out goes through the
    // jitter buffer, pulled every 20 ms: no silent stretch may pass 1 s, and
    // away from those two faults none may pass 200 ms.
    Session s;
    callEcho(s);
    ASSERT_EQ(s.client.callState(), 0x16);
    const ServerEnd server = serverEnd(s.wire, s.clientAddress);
    std::uint8_t next = server.next;
    s.drop = [&s](const Datagram &d) { return d.from == s.serverAddress; }; // the real server goes quiet

    auto full = [&](std::uint32_t ts) {
        FullFrame f;
        f.sourceCall = server.serverCall;
        f.destCall = server.clientCall;
        f.timestamp = ts;
        f.oseqno = next++;
        f.iseqno = 0;
        f.type = frametype::Voice;
        f.subclass = format::Gsm;
        f.payload = gsmLike(1);
        return encodeFullFrame(f);
    };
    auto mini = [&](std::uint32_t ts) {
        MiniFrame m;
        m.sourceCall = server.serverCall;
        m.timestamp = static_cast<std::uint16_t>(ts);
        m.payload = gsmLike(2);
        return encodeMiniFrame(m);
    };

    media::JitterBuffer jitter;
    std::uint32_t ts = 40;   // the sender's clock
    bool first = true;
    std::uint64_t silentSince = 0;
    std::uint64_t longestNearFaults = 0, longestElsewhere = 0;
    std::uint64_t played = 0;
    const std::uint64_t start = s.now;
    for (int i = 0; i < 150 * 50; ++i) {
        const std::uint64_t sinceStart = s.now - start;
        Bytes bytes;
        if (i == 100 * 50) {
            ts = 20; // the clock starts again
            bytes = full(ts);
        } else if (first || (ts & 0xffff) < 20) {
            bytes = full(ts);
        } else {
            bytes = mini(ts);
        }
        first = false;
        s.client.handleDatagram(s.now, s.serverAddress, bytes.data(), bytes.size());
        if (i == 30 * 50) {
            const Bytes stray = full(ts + 40000000);
            s.client.handleDatagram(s.now, s.serverAddress, stray.data(), stray.size());
        }
        for (const auto &v : s.client.takeVoice())
            jitter.put(v.timestamp, v.data, s.now);
        const auto out = jitter.get(s.now);
        if (out.kind == media::JitterBuffer::Output::Kind::Frame) {
            ++played;
            if (silentSince) {
                const std::uint64_t gap = s.now - silentSince;
                const bool nearFault = (sinceStart >= 29000 && sinceStart <= 33000)
                                       || (sinceStart >= 99000 && sinceStart <= 103000);
                (nearFault ? longestNearFaults : longestElsewhere) =
                    std::max(nearFault ? longestNearFaults : longestElsewhere, gap);
            }
            silentSince = 0;
        } else if (played > 0 && !silentSince) {
            silentSince = s.now;
        }
        ts += 20;
        const std::size_t mark = s.wire.size();
        s.advance(20);
        // And acknowledge what the client sends (its PINGs), as the server would.
        for (std::size_t w = mark; w < s.wire.size(); ++w) {
            const auto f = decodeFullFrame(s.wire[w].bytes.data(), s.wire[w].bytes.size());
            if (s.wire[w].from != s.clientAddress || !f || isUnsequenced(f->type, f->subclass))
                continue;
            FullFrame ack;
            ack.sourceCall = server.serverCall;
            ack.destCall = server.clientCall;
            ack.timestamp = f->timestamp;
            ack.oseqno = next;
            ack.iseqno = static_cast<std::uint8_t>(f->oseqno + 1);
            ack.type = frametype::Iax;
            ack.subclass = iaxcmd::Ack;
            const Bytes a = encodeFullFrame(ack);
            s.client.handleDatagram(s.now, s.serverAddress, a.data(), a.size());
        }
    }
    ASSERT_EQ(silentSince, 0u) << "silent since " << silentSince - start << " ms into the call";
    EXPECT_GT(played, 150u * 50u * 9 / 10);
    EXPECT_LE(longestNearFaults, 1000u);
    EXPECT_LE(longestElsewhere, 200u);
    EXPECT_EQ(s.client.callState(), 0x16);
}
