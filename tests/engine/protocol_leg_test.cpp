// Reliable delivery inside one dialog: retransmission, back-off, give-up,
// acknowledgements, sequence numbers and VNAK.
#include "iax2_constants.h"
#include "leg.h"

#include <gtest/gtest.h>

using namespace iax2;

namespace {

const Address kPeer = Address::v4(192, 0, 2, 1, 4569);

FullFrame only(const Outbox &out)
{
    EXPECT_EQ(out.size(), 1u);
    return *decodeFullFrame(out.front().bytes.data(), out.front().bytes.size());
}

FullFrame frameFrom(std::uint16_t source, std::uint16_t dest, std::uint8_t oseqno, std::uint8_t iseqno,
                    std::uint8_t type, std::uint32_t subclass, std::uint32_t ts = 100)
{
    FullFrame f;
    f.sourceCall = source;
    f.destCall = dest;
    f.oseqno = oseqno;
    f.iseqno = iseqno;
    f.type = type;
    f.subclass = subclass;
    f.timestamp = ts;
    return f;
}

} // namespace

TEST(Leg, RetransmitsWithDoublingWaitsThenGivesUp)
{
    RetransmitPolicy policy{500, 4000, 6};
    Leg leg(5, kPeer, 1000, policy);
    Outbox out;
    leg.send(1000, frametype::Iax, iaxcmd::New, {}, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FALSE(decodeFullFrame(out[0].bytes.data(), out[0].bytes.size())->retransmitted);

    std::vector<std::uint64_t> sentAt;
    for (std::uint64_t t = 1000; t <= 30000 && !leg.failed(); t += 10) {
        out.clear();
        leg.poll(t, out);
        if (!out.empty()) {
            EXPECT_TRUE(only(out).retransmitted);
            EXPECT_EQ(out[0].to, kPeer);
            sentAt.push_back(t - 1000);
        }
        if (leg.failed())
            sentAt.push_back(t - 1000);
    }
    // Waits of 0.5, 1, 2, 4, 4, 4 s, then one more wait before giving up.
    EXPECT_EQ(sentAt, (std::vector<std::uint64_t>{500, 1500, 3500, 7500, 11500, 15500, 19500}));
    EXPECT_TRUE(leg.failed());
    EXPECT_TRUE(leg.idle());
}

TEST(Leg, AcknowledgedFramesAreNotSentAgain)
{
    Leg leg(5, kPeer, 0, {});
    Outbox out;
    leg.send(0, frametype::Iax, iaxcmd::New, {}, out);
    leg.send(0, frametype::Iax, iaxcmd::Ping, {}, out);
    out.clear();
    // The peer's ACK says it expects our frame 1 next: frame 0 is done.
    leg.receive(10, frameFrom(77, 5, 0, 1, frametype::Iax, iaxcmd::Ack), out);
    EXPECT_TRUE(out.empty()); // ACKs are not acknowledged
    EXPECT_EQ(leg.remoteCall(), 77);
    leg.poll(600, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(only(out).subclass, iaxcmd::Ping);
    out.clear();
    leg.receive(700, frameFrom(77, 5, 0, 2, frametype::Iax, iaxcmd::Ack), out);
    EXPECT_TRUE(leg.idle());
    leg.poll(10000, out);
    EXPECT_TRUE(out.empty());
}

TEST(Leg, NumbersOutgoingFramesAndLeavesAcksOutOfTheCount)
{
    Leg leg(5, kPeer, 0, {});
    Outbox out;
    leg.send(0, frametype::Iax, iaxcmd::New, {}, out);
    leg.send(0, frametype::Iax, iaxcmd::Ack, {}, out, 42u);
    leg.send(0, frametype::Iax, iaxcmd::Ping, {}, out);
    ASSERT_EQ(out.size(), 3u);
    const auto a = *decodeFullFrame(out[0].bytes.data(), out[0].bytes.size());
    const auto b = *decodeFullFrame(out[1].bytes.data(), out[1].bytes.size());
    const auto c = *decodeFullFrame(out[2].bytes.data(), out[2].bytes.size());
    EXPECT_EQ(a.oseqno, 0);
    EXPECT_EQ(b.oseqno, 1);
    EXPECT_EQ(b.timestamp, 42u);
    EXPECT_EQ(c.oseqno, 1);
    // Frames sent in the same millisecond still get rising timestamps.
    EXPECT_GT(c.timestamp, a.timestamp);
}

TEST(Leg, DeliversInOrderAcknowledgesRepeatsAndAsksForGaps)
{
    Leg leg(5, kPeer, 0, {});
    Outbox out;
    EXPECT_EQ(leg.receive(0, frameFrom(9, 5, 0, 0, frametype::Iax, iaxcmd::New, 3), out), Leg::Receipt::Deliver);
    auto ack = only(out);
    EXPECT_EQ(ack.subclass, iaxcmd::Ack);
    EXPECT_EQ(ack.timestamp, 3u);
    EXPECT_EQ(ack.iseqno, 1);
    EXPECT_EQ(ack.destCall, 9);

    out.clear();
    EXPECT_EQ(leg.receive(5, frameFrom(9, 5, 0, 0, frametype::Iax, iaxcmd::New, 3), out), Leg::Receipt::Duplicate);
    EXPECT_EQ(only(out).subclass, iaxcmd::Ack);

    out.clear();
    EXPECT_EQ(leg.receive(6, frameFrom(9, 5, 2, 0, frametype::Control, control::Ringing), out),
              Leg::Receipt::OutOfOrder);
    const auto vnak = only(out);
    EXPECT_EQ(vnak.subclass, iaxcmd::Vnak);
    EXPECT_EQ(vnak.iseqno, 1); // still waiting for frame 1

    // More frames beyond the same gap: the peer resends everything from it
    // for each VNAK, so the gap is asked for once, then only after a pause.
    out.clear();
    for (std::uint8_t seq = 3; seq < 40; ++seq)
        EXPECT_EQ(leg.receive(7 + seq, frameFrom(9, 5, seq, 0, frametype::Voice, format::Gsm), out),
                  Leg::Receipt::OutOfOrder);
    EXPECT_TRUE(out.empty());
    leg.receive(6 + kVnakRepeatMs, frameFrom(9, 5, 2, 0, frametype::Control, control::Ringing), out);
    EXPECT_EQ(only(out).subclass, iaxcmd::Vnak);

    out.clear();
    EXPECT_EQ(leg.receive(700, frameFrom(9, 5, 1, 0, frametype::Control, control::Ringing), out),
              Leg::Receipt::Deliver);
    EXPECT_EQ(leg.receive(701, frameFrom(9, 5, 2, 0, frametype::Control, control::Answer), out), Leg::Receipt::Deliver);
    // A new gap is asked for at once.
    out.clear();
    leg.receive(702, frameFrom(9, 5, 5, 0, frametype::Control, control::Answer), out);
    EXPECT_EQ(only(out).iseqno, 3);
}

TEST(Leg, EveryFullFrameCountsWhateverItsSubclass)
{
    // Control -1 (octet 0xFF) and subclasses we have no name for are frames
    // like any other: refusing one would stall every frame after it.
    Leg leg(5, kPeer, 0, {});
    Outbox out;
    const std::vector<std::pair<std::uint8_t, std::uint8_t>> wire = {
        {frametype::Control, 0xff}, {frametype::Control, control::Progress}, {frametype::Control, 20},
        {frametype::Iax, 0xc5},     {frametype::Text, 0x01},                 {99, 0xfe}};
    std::uint8_t seq = 0;
    for (const auto &[type, octet] : wire) {
        const Bytes bytes = {0x80, 9, 0x00, 5, 0, 0, 0, seq, seq, 0, type, octet};
        const auto f = decodeFullFrame(bytes.data(), bytes.size());
        ASSERT_TRUE(f) << int(type) << "/" << int(octet);
        out.clear();
        EXPECT_EQ(leg.receive(seq, *f, out), Leg::Receipt::Deliver);
        EXPECT_EQ(only(out).subclass, iaxcmd::Ack);
        EXPECT_EQ(only(out).iseqno, seq + 1);
        ++seq;
    }
}

TEST(Leg, AcknowledgementsAndInvalsCountOnlyInsideTheWindow)
{
    Leg leg(5, kPeer, 0, {});
    Outbox out;
    for (int i = 0; i < 3; ++i)
        leg.send(0, frametype::DtmfEnd, '1', {}, out); // frames 0, 1, 2 outstanding
    // An ACK claiming frames we never sent acknowledges nothing.
    leg.receive(1, frameFrom(9, 5, 0, 200, frametype::Iax, iaxcmd::Ack), out);
    EXPECT_EQ(leg.unacknowledged(), 3u);
    // Nor does an INVAL that names no outstanding frame end anything.
    EXPECT_EQ(leg.receive(2, frameFrom(9, 5, 0, 77, frametype::Iax, iaxcmd::Inval), out), Leg::Receipt::Unsequenced);
    EXPECT_EQ(leg.unacknowledged(), 3u);
    leg.receive(3, frameFrom(9, 5, 0, 2, frametype::Iax, iaxcmd::Ack), out);
    EXPECT_EQ(leg.unacknowledged(), 1u);
    EXPECT_EQ(leg.receive(4, frameFrom(9, 5, 0, 2, frametype::Iax, iaxcmd::Inval), out), Leg::Receipt::Invalidated);
    leg.receive(5, frameFrom(9, 5, 0, 3, frametype::Iax, iaxcmd::Ack), out);
    EXPECT_TRUE(leg.idle());
    // Nothing outstanding: no INVAL can name anything.
    EXPECT_EQ(leg.receive(6, frameFrom(9, 5, 0, 3, frametype::Iax, iaxcmd::Inval), out), Leg::Receipt::Unsequenced);
}

TEST(Leg, NoMoreThan127FramesAwaitAcknowledgement)
{
    Leg leg(5, kPeer, 0, {});
    Outbox out;
    for (std::size_t i = 0; i < kMaxUnacknowledged; ++i)
        ASSERT_TRUE(leg.send(i, frametype::DtmfEnd, '1', {}, out));
    out.clear();
    EXPECT_FALSE(leg.send(200, frametype::DtmfEnd, '1', {}, out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(leg.send(200, frametype::Iax, iaxcmd::Ack, {}, out, 1u)); // unsequenced frames still go
    leg.receive(201, frameFrom(9, 5, 0, 1, frametype::Iax, iaxcmd::Ack), out);
    EXPECT_TRUE(leg.send(202, frametype::DtmfEnd, '1', {}, out));
}

TEST(Leg, VnakResendsEverythingUnacknowledgedInOrder)
{
    Leg leg(5, kPeer, 0, {});
    Outbox out;
    leg.send(0, frametype::Iax, iaxcmd::New, {}, out);
    leg.send(1, frametype::DtmfEnd, '1', {}, out);
    leg.send(2, frametype::DtmfEnd, '2', {}, out);
    out.clear();
    // The peer has frame 0 only.
    leg.receive(3, frameFrom(9, 5, 0, 1, frametype::Iax, iaxcmd::Vnak), out);
    ASSERT_EQ(out.size(), 2u);
    const auto first = *decodeFullFrame(out[0].bytes.data(), out[0].bytes.size());
    const auto second = *decodeFullFrame(out[1].bytes.data(), out[1].bytes.size());
    EXPECT_EQ(first.subclass, std::uint32_t('1'));
    EXPECT_EQ(second.subclass, std::uint32_t('2'));
    EXPECT_TRUE(first.retransmitted);
    EXPECT_EQ(first.destCall, 9);
    // The peer's next VNAKs for the same gap, right behind: the queue went already.
    out.clear();
    leg.receive(4, frameFrom(9, 5, 0, 1, frametype::Iax, iaxcmd::Vnak), out);
    leg.receive(5, frameFrom(9, 5, 0, 1, frametype::Iax, iaxcmd::Vnak), out);
    EXPECT_TRUE(out.empty());
    leg.receive(3 + kVnakResendGapMs, frameFrom(9, 5, 0, 2, frametype::Iax, iaxcmd::Vnak), out);
    EXPECT_EQ(only(out).subclass, std::uint32_t('2'));
}

TEST(Leg, StaysInStepAcrossTheSequenceWrap)
{
    Leg a(1, kPeer, 0, {});
    Leg b(2, kPeer, 0, {});
    for (int i = 0; i < 600; ++i) {
        Outbox fromA;
        a.send(std::uint64_t(i), frametype::DtmfEnd, '5', {}, fromA);
        Outbox fromB;
        const auto f = *decodeFullFrame(fromA[0].bytes.data(), fromA[0].bytes.size());
        ASSERT_EQ(b.receive(std::uint64_t(i), f, fromB), Leg::Receipt::Deliver) << i;
        const auto ack = *decodeFullFrame(fromB[0].bytes.data(), fromB[0].bytes.size());
        Outbox none;
        a.receive(std::uint64_t(i), ack, none);
        ASSERT_TRUE(a.idle()) << i;
    }
}

TEST(Leg, RestartBeginsTheCountAgain)
{
    Leg leg(5, kPeer, 0, {});
    Outbox out;
    leg.send(0, frametype::Iax, iaxcmd::New, {}, out);
    leg.restart(100);
    EXPECT_TRUE(leg.idle());
    out.clear();
    leg.send(100, frametype::Iax, iaxcmd::New, {}, out);
    EXPECT_EQ(only(out).oseqno, 0);
    EXPECT_EQ(only(out).timestamp, 0u);
}
