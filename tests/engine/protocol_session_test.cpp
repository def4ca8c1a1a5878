// The engine's core against the devserver's core, back to back with a fake
// clock: registration, every call path and its state bitmasks, call tokens,
// DTMF, loss, dead peers and strangers.
#include "session_harness.h"

#include "iax2_constants.h"
#include "ie.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

using namespace iax2;
using callstate::Active;
using callstate::Complete;
using callstate::Outgoing;
using callstate::Ringing;

namespace {

const std::string kDial = "alice:wonderland@server/";

Bytes frameBytes(std::uint16_t source, std::uint16_t dest, std::uint8_t type, std::uint32_t subclass,
                 Bytes payload = {}, std::uint8_t oseqno = 0, std::uint8_t iseqno = 0)
{
    FullFrame f;
    f.sourceCall = source;
    f.destCall = dest;
    f.type = type;
    f.subclass = subclass;
    f.oseqno = oseqno;
    f.iseqno = iseqno;
    f.payload = std::move(payload);
    return encodeFullFrame(f);
}

std::vector<FullFrame> framesTo(const Session &s, const Address &to)
{
    return framesTo(s.wire, to);
}

} // namespace

// ---------------------------------------------------------------- registration

TEST(Registration, TokenChallengeAndAcknowledgement)
{
    Session s;
    ASSERT_TRUE(s.client.addRegistration(s.now, 7, "alice", "wonderland", "server"));
    s.settle();
    EXPECT_EQ(s.registrationReplies(), (std::vector<RegistrationReply>{RegistrationReply::Accepted}));
    EXPECT_EQ(std::get<event::Registration>(s.events.back()).id, 7);
    EXPECT_EQ(s.server.registeredAddress("alice", s.now), s.clientAddress);
    // REGREQ (empty token), REGREQ (token), REGREQ (MD5) from us; CALLTOKEN, REGAUTH, REGACK back.
    EXPECT_EQ(s.sentBy(s.clientAddress), (std::vector<std::string>{"6/13", "6/13", "6/13"}));
    EXPECT_EQ(s.sentBy(s.serverAddress), (std::vector<std::string>{"6/40", "6/14", "6/15"}));

    const auto toServer = framesTo(s, s.serverAddress);
    const auto first = IeList::parse(toServer[0].payload);
    EXPECT_EQ(first->text(ie::CallToken), "");
    EXPECT_EQ(first->text(ie::Username), "alice");
    const auto second = IeList::parse(toServer[1].payload);
    EXPECT_FALSE(second->text(ie::CallToken)->empty());
    // The repeat after the token starts the count again, same call number.
    EXPECT_EQ(toServer[1].oseqno, 0);
    EXPECT_EQ(toServer[1].sourceCall, toServer[0].sourceCall);
    int answers = 0;
    for (const auto &f : toServer)
        if (f.subclass == iaxcmd::RegReq && IeList::parse(f.payload)->has(ie::Md5Result))
            ++answers;
    EXPECT_EQ(answers, 1);

    s.advance(5000); // everything acknowledged and forgotten
    EXPECT_EQ(s.client.dialogCount(), 0u);
    EXPECT_EQ(s.server.dialogCount(), 0u);
}

TEST(Registration, WrongPasswordIsRejectedAndRetriedLater)
{
    ClientOptions o;
    o.retryAfterRejectMs = 60000;
    Session s(o);
    s.client.addRegistration(s.now, 1, "alice", "wrong", "server");
    s.settle();
    EXPECT_EQ(s.registrationReplies(), (std::vector<RegistrationReply>{RegistrationReply::Rejected}));
    EXPECT_FALSE(s.server.registeredAddress("alice", s.now));
    s.advance(59000);
    EXPECT_EQ(s.registrationReplies().size(), 1u);
    s.advance(2000);
    EXPECT_EQ(s.registrationReplies().size(), 2u);
}

TEST(Registration, UnknownUserLooksLikeAWrongPassword)
{
    Session s;
    s.client.addRegistration(s.now, 1, "mallory", "x", "server");
    s.settle();
    EXPECT_EQ(s.registrationReplies(), (std::vector<RegistrationReply>{RegistrationReply::Rejected}));
    EXPECT_EQ(s.sentBy(s.serverAddress), (std::vector<std::string>{"6/40", "6/14", "6/16"}));
}

TEST(Registration, RefreshesBeforeTheGrantedTimeRunsOut)
{
    devserver::ServerCoreOptions so;
    so.maxRefreshSeconds = 40; // the server grants less than we ask for
    Session s(Session::clientOptions(), so);
    s.client.addRegistration(s.now, 1, "alice", "wonderland", "server");
    s.settle();
    const std::uint64_t registeredAt = s.now;
    s.advance(29900);
    EXPECT_EQ(s.registrationReplies().size(), 1u);
    s.advance(200); // three quarters of 40 s
    EXPECT_EQ(s.registrationReplies().size(), 2u);
    for (int i = 0; i < 10; ++i) {
        s.advance(10000);
        ASSERT_TRUE(s.server.registeredAddress("alice", s.now)) << "lapsed after " << (s.now - registeredAt) << " ms";
    }
}

TEST(Registration, NoAnswerTimesOutThenTriesAgainWithAFreshLookup)
{
    ClientOptions o;
    o.retryAfterTimeoutMs = 10000;
    Session s(o);
    s.drop = [](const Datagram &) { return true; };
    s.client.addRegistration(s.now, 3, "alice", "wonderland", "server");
    s.advance(19000);
    EXPECT_TRUE(s.registrationReplies().empty());
    s.advance(1000);
    EXPECT_EQ(s.registrationReplies(), (std::vector<RegistrationReply>{RegistrationReply::Timeout}));
    // The server comes back before the retry.
    s.drop = nullptr;
    s.advance(10100);
    EXPECT_EQ(s.registrationReplies().back(), RegistrationReply::Accepted);
}

TEST(Registration, UnknownHostCountsAsNoAnswer)
{
    Session s;
    s.resolveFailures = 1;
    s.client.addRegistration(s.now, 3, "alice", "wonderland", "server");
    s.settle();
    EXPECT_EQ(s.registrationReplies(), (std::vector<RegistrationReply>{RegistrationReply::Timeout}));
    s.advance(10100);
    EXPECT_EQ(s.registrationReplies().back(), RegistrationReply::Accepted);
}

TEST(Registration, ReleaseRemovesTheBinding)
{
    Session s;
    s.client.addRegistration(s.now, 4, "alice", "wonderland", "server");
    s.settle();
    ASSERT_TRUE(s.server.registeredAddress("alice", s.now));
    EXPECT_TRUE(s.client.removeRegistration(s.now, 4));
    s.settle();
    EXPECT_FALSE(s.server.registeredAddress("alice", s.now));
    EXPECT_EQ(s.sentBy(s.clientAddress).back(), "6/17");
    // Withdrawn means no more refreshes and no more events.
    const auto count = s.events.size();
    s.advance(120000);
    EXPECT_EQ(s.events.size(), count);
    EXPECT_FALSE(s.client.removeRegistration(s.now, 4));
}

TEST(Registration, MalformedHostIsRefusedAtOnce)
{
    Session s;
    EXPECT_FALSE(s.client.addRegistration(s.now, 1, "alice", "x", ""));
    EXPECT_FALSE(s.client.addRegistration(s.now, 1, "alice", "x", "host:99999"));
    EXPECT_FALSE(s.client.addRegistration(s.now, 1, "", "x", "server"));
}

// ---------------------------------------------------------------- calls

TEST(Call, EchoTestAnswersAtOnceAndOurHangupClosesTheRecord)
{
    Session s;
    ASSERT_EQ(s.client.placeCall(s.now, kDial + "999", format::Gsm, format::Gsm), Client::PlaceResult::Placed);
    s.settle();
    EXPECT_EQ(s.states(), (std::vector<int>{Active | Outgoing, Active | Outgoing | Complete}));
    ASSERT_EQ(s.backend.records().size(), 1u);
    EXPECT_EQ(s.backend.records()[0].number, "999");
    EXPECT_NE(s.backend.records()[0].answer, 0);
    EXPECT_EQ(s.backend.records()[0].end, 0);

    s.advance(5000);
    s.client.hangup(s.now);
    s.advance(200); // the HANGUP trails the call's last voice
    EXPECT_EQ(s.states().back(), 0);
    EXPECT_EQ(s.backend.records()[0].end - s.backend.records()[0].answer, 5);
    EXPECT_FALSE(s.client.callOnLine());
    s.advance(5000);
    EXPECT_EQ(s.client.dialogCount(), 0u);
    EXPECT_EQ(s.server.dialogCount(), 0u);

    // NEW carried what the server needs.
    const auto toServer = framesTo(s, s.serverAddress);
    const auto ies = IeList::parse(toServer[1].payload);
    EXPECT_EQ(ies->u16(ie::Version), 2);
    EXPECT_EQ(ies->text(ie::CalledNumber), "999");
    EXPECT_EQ(ies->text(ie::Username), "alice");
    EXPECT_EQ(ies->u32(ie::Format), format::Gsm);
    EXPECT_EQ(ies->u32(ie::Capability), format::Gsm);
    EXPECT_FALSE(ies->has(ie::Md5Result));
}

TEST(Call, InternationalNumbersRingForTwoSecondsThenAnswer)
{
    Session s;
    s.client.placeCall(s.now, kDial + "004930123456", format::Gsm, format::Gsm);
    s.settle();
    EXPECT_EQ(s.states(), (std::vector<int>{0x06, 0x0E}));
    s.advance(1900);
    EXPECT_EQ(s.states().size(), 2u);
    s.advance(200);
    EXPECT_EQ(s.states(), (std::vector<int>{0x06, 0x0E, 0x16}));
    EXPECT_EQ(std::get<event::CallState>(s.events.back()).remote, "004930123456");
    EXPECT_EQ(std::get<event::CallState>(s.events.back()).format, format::Gsm);
}

TEST(Call, StopIndicationFramesKeepBothSidesInStepWithoutAStorm)
{
    // The server sends Control -1 when ringing ends and after the answer, as
    // Asterisk does. A side that cannot take that frame falls out of step and
    // every later frame draws a VNAK and a resent queue.
    Session s;
    s.client.placeCall(s.now, kDial + "004930123456", format::Gsm, format::Gsm);
    s.advance(2100);
    ASSERT_EQ(s.states(), (std::vector<int>{0x06, 0x0E, 0x16}));
    int stops = 0;
    for (const auto &f : framesTo(s, s.clientAddress))
        stops += f.type == frametype::Control && f.subclass == kSubclassMinusOne;
    EXPECT_EQ(stops, 2);

    // Ten seconds of voice both ways with a digit every second.
    const std::size_t mark = s.wire.size();
    const Bytes voice(33, 0x55);
    std::size_t echoed = 0;
    for (int tick = 0; tick < 500; ++tick) {
        s.client.sendVoice(s.now, format::Gsm, voice);
        if (tick % 50 == 25)
            s.client.sendDtmf(s.now, static_cast<char>('0' + tick / 50));
        s.advance(20);
        echoed += s.client.takeVoice().size();
    }
    EXPECT_GE(echoed, 495u);
    EXPECT_EQ(s.backend.records().at(0).dtmf, "0123456789");
    std::size_t up = 0, down = 0;
    for (std::size_t i = mark; i < s.wire.size(); ++i) {
        const auto &d = s.wire[i];
        (d.from == s.clientAddress ? up : down) += 1;
        const auto f = decodeFullFrame(d.bytes.data(), d.bytes.size());
        EXPECT_FALSE(f && f->type == frametype::Iax && f->subclass == iaxcmd::Vnak);
        EXPECT_FALSE(f && f->retransmitted);
    }
    EXPECT_LE(up, 550u);
    EXPECT_LE(down, 550u);

    // We hang up while the server's LAGRQ is on its way: Asterisk drops the
    // call as our HANGUP arrives, so that frame gets no ACK (it would reach
    // nobody), and nothing else goes to the call after the HANGUP.
    const ServerEnd server = serverEnd(s.wire, s.clientAddress);
    s.client.hangup(s.now);
    const std::size_t afterHangup = s.wire.size();
    const Bytes crossing =
        frameBytes(server.serverCall, server.clientCall, frametype::Iax, iaxcmd::LagRq, {}, server.next);
    s.client.handleDatagram(s.now, s.serverAddress, crossing.data(), crossing.size());
    s.settle();
    s.advance(10000);
    std::size_t toServer = 0;
    for (std::size_t i = afterHangup; i < s.wire.size(); ++i)
        toServer += s.wire[i].from == s.clientAddress;
    EXPECT_EQ(toServer, 1u); // the HANGUP itself
    EXPECT_EQ(s.client.dialogCount(), 0u);
}

TEST(Call, EarlyMediaIsDeliveredBeforeTheAnswer)
{
    Session s;
    s.client.placeCall(s.now, kDial + "0015550104", format::Gsm, format::Gsm);
    s.settle();
    const auto frames = framesTo(s, s.clientAddress);
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(), [](const FullFrame &f) {
        return f.type == frametype::Control && f.subclass == control::Progress;
    }));
    std::size_t early = 0;
    std::uint32_t last = 0;
    for (int tick = 0; tick < 95; ++tick) {
        s.advance(20);
        for (const auto &v : s.client.takeVoice()) {
            EXPECT_EQ(v.format, format::Gsm);
            EXPECT_EQ(v.data.size(), 33u);
            if (early > 0)
                EXPECT_EQ(v.timestamp, last + 20);
            last = v.timestamp;
            ++early;
        }
    }
    // Nearly two seconds of tone, every 20 ms frame of it, and still not answered.
    EXPECT_GE(early, 94u);
    EXPECT_EQ(s.states(), (std::vector<int>{0x06}));
    EXPECT_TRUE(s.client.callHasVoice());
    s.advance(200);
    EXPECT_EQ(s.states(), (std::vector<int>{0x06, 0x16}));
    // Answered: the tone stops, the echo takes over.
    s.client.takeVoice();
    s.advance(200);
    EXPECT_TRUE(s.client.takeVoice().empty());
}

TEST(Call, BusyNumberEndsTheCallWithoutAnAnswer)
{
    Session s;
    s.client.placeCall(s.now, kDial + "0015550100", format::Gsm, format::Gsm);
    s.settle();
    ASSERT_EQ(s.states().size(), 2u);
    EXPECT_EQ(s.states()[1] & Active, 0);
    EXPECT_EQ(s.states()[1], callstate::Busy);
    s.advance(100);
    ASSERT_EQ(s.backend.records().size(), 1u);
    EXPECT_EQ(s.backend.records()[0].answer, 0);
    EXPECT_NE(s.backend.records()[0].end, 0);
    // We hung up with cause "busy".
    const auto hangup = framesTo(s, s.serverAddress);
    bool sawHangup = false;
    for (const auto &f : hangup)
        if (f.type == frametype::Iax && f.subclass == iaxcmd::Hangup)
            sawHangup = IeList::parse(f.payload)->u8(ie::CauseCode) == cause::UserBusy;
    EXPECT_TRUE(sawHangup);
}

TEST(Call, CongestionEndsTheCall)
{
    Session s;
    s.client.placeCall(s.now, kDial + "0015550102", format::Gsm, format::Gsm);
    s.settle();
    EXPECT_EQ(s.states(), (std::vector<int>{0x06, 0x00}));
    s.advance(100);
    EXPECT_NE(s.backend.records().at(0).end, 0);
}

TEST(Call, UnansweredNumberRingsUntilWeGiveUp)
{
    Session s;
    s.client.placeCall(s.now, kDial + "0015550101", format::Gsm, format::Gsm);
    s.advance(90000); // pings keep going both ways; nobody answers
    EXPECT_EQ(s.states(), (std::vector<int>{0x06, 0x0E}));
    s.client.hangup(s.now);
    s.advance(100);
    EXPECT_EQ(s.states(), (std::vector<int>{0x06, 0x0E, 0x00}));
    EXPECT_EQ(s.backend.records().at(0).answer, 0);
    EXPECT_NE(s.backend.records().at(0).end, 0);
}

TEST(Call, ServerHangsUpTheShortCallAfterThreeSeconds)
{
    Session s;
    s.client.placeCall(s.now, kDial + "0015550103", format::Gsm, format::Gsm);
    s.settle();
    EXPECT_EQ(s.states(), (std::vector<int>{0x06, 0x16}));
    s.advance(2900);
    EXPECT_EQ(s.states().size(), 2u);
    s.advance(200);
    EXPECT_EQ(s.states(), (std::vector<int>{0x06, 0x16, 0x00}));
    EXPECT_EQ(s.backend.records().at(0).end - s.backend.records().at(0).answer, 3);
    s.advance(5000);
    EXPECT_EQ(s.client.dialogCount(), 0u);
    EXPECT_EQ(s.server.dialogCount(), 0u);
}

TEST(Call, TheLastFrameOfACallTrailsItsVoiceAndNothingFollowsIt)
{
    // A server that takes datagrams in on several threads forgets the call
    // when it takes in our HANGUP or our ACK of its own; voice sent just
    // before must find the call still there, and nothing may come after.
    const Bytes voice(33, 0x55);
    const auto fromClientSince = [](const Session &s, std::size_t mark) {
        std::vector<Datagram> out;
        for (std::size_t i = mark; i < s.wire.size(); ++i)
            if (s.wire[i].from == s.clientAddress)
                out.push_back(s.wire[i]);
        return out;
    };

    // The server hangs up three seconds after the answer, while we talk; a
    // PING of its own crosses our ACK.
    Session far;
    far.client.placeCall(far.now, kDial + "0015550103", format::Gsm, format::Gsm);
    far.settle();
    std::uint64_t lastVoice = 0;
    while (far.states().back() != 0 && far.now < 10000) {
        far.client.sendVoice(far.now, format::Gsm, voice);
        lastVoice = far.now;
        far.advance(20);
    }
    ASSERT_EQ(far.states().back(), 0);
    const std::uint64_t ended = far.now;
    std::size_t mark = far.wire.size();
    while (mark > 0 && far.wire[mark - 1].time == ended && far.wire[mark - 1].from != far.clientAddress)
        --mark; // the server's HANGUP itself
    const ServerEnd server = serverEnd(far.wire, far.clientAddress);
    far.toClient(far.serverAddress,
                 frameBytes(server.serverCall, server.clientCall, frametype::Iax, iaxcmd::Ping, {}, server.next));
    far.advance(3000);
    auto sent = fromClientSince(far, mark);
    ASSERT_EQ(sent.size(), 1u);
    const auto ack = decodeFullFrame(sent[0].bytes.data(), sent[0].bytes.size());
    ASSERT_TRUE(ack);
    EXPECT_TRUE(ack->type == frametype::Iax && ack->subclass == iaxcmd::Ack);
    EXPECT_GE(sent[0].time, lastVoice + 100);
    EXPECT_EQ(far.server.dialogCount(), 0u) << "the server never had its ACK";

    // We hang up while talking: the HANGUP trails the last voice frame.
    Session near;
    near.client.placeCall(near.now, kDial + "999", format::Gsm, format::Gsm);
    for (int i = 0; i < 50; ++i) {
        near.client.sendVoice(near.now, format::Gsm, voice);
        near.advance(20);
    }
    near.client.sendVoice(near.now, format::Gsm, voice);
    near.settle();
    const std::uint64_t hungUp = near.now;
    near.client.hangup(near.now);
    mark = near.wire.size();
    near.advance(3000);
    sent = fromClientSince(near, mark);
    ASSERT_EQ(sent.size(), 1u);
    const auto hangup = decodeFullFrame(sent[0].bytes.data(), sent[0].bytes.size());
    ASSERT_TRUE(hangup);
    EXPECT_TRUE(hangup->type == frametype::Iax && hangup->subclass == iaxcmd::Hangup);
    EXPECT_GE(sent[0].time, hungUp + 100);
    EXPECT_NE(near.backend.records().at(0).end, 0);
    EXPECT_EQ(near.client.dialogCount(), 0u);
}

TEST(Call, RefusalsEndTheCallWithoutARecord)
{
    struct Case {
        std::string dial;
        std::uint32_t formats;
        std::uint8_t cause;
    };
    const std::vector<Case> cases = {
        {"alice:wrong@server/999", format::Gsm, cause::FacilityRejected},
        {"nobody:x@server/999", format::Gsm, cause::FacilityRejected},
        {"broke:nomoney@server/999", format::Gsm, cause::CallRejected},
        {kDial + "12345", format::Gsm, cause::UnallocatedNumber},
        {kDial + "999", 1u << 2, cause::BearerNotAvailable}, // u-law only
    };
    for (const auto &c : cases) {
        Session s;
        s.client.placeCall(s.now, c.dial, c.formats, c.formats);
        s.settle();
        EXPECT_EQ(s.states(), (std::vector<int>{0x06, 0x00})) << c.dial;
        EXPECT_TRUE(s.backend.records().empty()) << c.dial;
        const auto back = framesTo(s, s.clientAddress);
        ASSERT_FALSE(back.empty());
        bool found = false;
        for (const auto &f : back)
            if (f.type == frametype::Iax && f.subclass == iaxcmd::Reject)
                found = IeList::parse(f.payload)->u8(ie::CauseCode) == c.cause;
        EXPECT_TRUE(found) << c.dial;
    }
}

TEST(Call, DtmfDigitsReachTheRecord)
{
    Session s;
    s.client.placeCall(s.now, kDial + "999", format::Gsm, format::Gsm);
    s.settle();
    for (char c : std::string("12#*9A"))
        EXPECT_TRUE(s.client.sendDtmf(s.now, c));
    EXPECT_FALSE(s.client.sendDtmf(s.now, 'x'));
    s.settle();
    EXPECT_EQ(s.backend.records().at(0).dtmf, "12#*9A");
    s.client.hangup(s.now);
    EXPECT_FALSE(s.client.sendDtmf(s.now, '1'));
}

TEST(Call, SurvivesHeavyLossBothWays)
{
    Session s;
    std::mt19937 random(7);
    s.drop = [&random](const Datagram &) { return random() % 3 == 0; }; // a third of all datagrams lost
    s.client.addRegistration(s.now, 1, "alice", "wonderland", "server");
    s.client.placeCall(s.now, kDial + "999", format::Gsm, format::Gsm);
    s.advance(5000);
    for (char c : std::string("123456"))
        s.client.sendDtmf(s.now, c);
    s.advance(10000);
    EXPECT_EQ(s.registrationReplies(), (std::vector<RegistrationReply>{RegistrationReply::Accepted}));
    EXPECT_EQ(s.states(), (std::vector<int>{0x06, 0x16}));
    EXPECT_EQ(s.backend.records().at(0).dtmf, "123456"); // each once, in order
    s.client.hangup(s.now);
    s.advance(10000);
    EXPECT_NE(s.backend.records().at(0).end, 0);
}

TEST(Call, ReorderedFramesAreAskedForAgain)
{
    Session s;
    s.client.placeCall(s.now, kDial + "999", format::Gsm, format::Gsm);
    s.settle();
    // Hold back the first of three digits: the server sees a gap and sends VNAK.
    bool held = false;
    Datagram heldBack{};
    s.drop = [&](const Datagram &d) {
        const auto f = decodeFullFrame(d.bytes.data(), d.bytes.size());
        if (!held && f && f->type == frametype::DtmfEnd) {
            held = true;
            heldBack = d;
            return true;
        }
        return false;
    };
    s.client.sendDtmf(s.now, '1');
    s.client.sendDtmf(s.now, '2');
    s.client.sendDtmf(s.now, '3');
    s.settle();
    EXPECT_EQ(s.backend.records().at(0).dtmf, "123");
    EXPECT_FALSE(s.sentBy(s.serverAddress, true).empty());
    bool sawVnak = false;
    for (const auto &f : framesTo(s, s.clientAddress))
        sawVnak |= f.type == frametype::Iax && f.subclass == iaxcmd::Vnak;
    EXPECT_TRUE(sawVnak);
}

TEST(Call, DeadServerEndsTheCall)
{
    Session s;
    s.client.placeCall(s.now, kDial + "999", format::Gsm, format::Gsm);
    s.settle();
    s.drop = [](const Datagram &) { return true; };
    s.advance(20000 + 20000); // a ping goes out and is never answered
    EXPECT_EQ(s.states(), (std::vector<int>{0x06, 0x16, 0x00}));
    // The server noticed the vanished caller too and closed the record.
    EXPECT_NE(s.backend.records().at(0).end, 0);
}

TEST(Call, OneLineOnly)
{
    Session s;
    s.client.placeCall(s.now, kDial + "999", format::Gsm, format::Gsm);
    s.settle();
    const auto before = s.events.size();
    EXPECT_EQ(s.client.placeCall(s.now, kDial + "0049", format::Gsm, format::Gsm), Client::PlaceResult::LineBusy);
    s.settle();
    EXPECT_EQ(s.events.size(), before);
    EXPECT_EQ(s.client.callState(), 0x16);
}

TEST(Call, BadDialStringReportsAFreeLine)
{
    Session s;
    EXPECT_EQ(s.client.placeCall(s.now, "no-at-sign/999", format::Gsm, format::Gsm),
              Client::PlaceResult::InvalidDialString);
    s.settle();
    EXPECT_EQ(s.states(), (std::vector<int>{0x00}));
    for (const auto &e : s.events)
        if (const auto *t = std::get_if<event::Text>(&e))
            EXPECT_EQ(t->text.find("no-at-sign"), std::string::npos); // never echo a dial string: it holds a password
    EXPECT_FALSE(s.client.callOnLine());
}

TEST(Call, UnknownHostEndsTheCall)
{
    Session s;
    s.resolveFailures = 1;
    s.client.placeCall(s.now, kDial + "999", format::Gsm, format::Gsm);
    s.settle();
    EXPECT_EQ(s.states(), (std::vector<int>{0x06, 0x00}));
    EXPECT_TRUE(s.wire.empty());
}

TEST(Call, HangupWithoutACallIsHarmless)
{
    Session s;
    s.client.hangup(s.now);
    s.settle();
    EXPECT_TRUE(s.events.empty());
    EXPECT_TRUE(s.wire.empty());
}

TEST(Call, PingAndLagRequestsAreAnswered)
{
    Session s;
    s.client.placeCall(s.now, kDial + "999", format::Gsm, format::Gsm);
    s.settle();
    const ServerEnd server = serverEnd(s.wire, s.clientAddress);
    const std::uint16_t serverCall = server.serverCall;
    const std::uint16_t clientCall = server.clientCall;
    const std::uint8_t next = server.next;
    const std::size_t before = s.wire.size();
    s.toClient(s.serverAddress, frameBytes(serverCall, clientCall, frametype::Iax, iaxcmd::LagRq, {}, next));
    bool answered = false;
    for (std::size_t i = before; i < s.wire.size(); ++i) {
        const auto f = decodeFullFrame(s.wire[i].bytes.data(), s.wire[i].bytes.size());
        answered |= f && f->type == frametype::Iax && f->subclass == iaxcmd::LagRp;
    }
    EXPECT_TRUE(answered);
}

TEST(Call, AHangupCarryingOnlyACauseCodeIsExplained)
{
    // Asterisk's Hangup(21) before the answer sends the code without a text.
    Session s;
    s.client.placeCall(s.now, kDial + "0015550101", format::Gsm, format::Gsm);
    s.settle();
    const ServerEnd server = serverEnd(s.wire, s.clientAddress);
    s.toClient(s.serverAddress, frameBytes(server.serverCall, server.clientCall, frametype::Iax, iaxcmd::Hangup,
                                           IeBuilder().u8(ie::CauseCode, cause::CallRejected).take(), server.next));
    EXPECT_EQ(s.states().back(), 0);
    std::vector<std::string> texts;
    for (const auto &e : s.events)
        if (const auto *t = std::get_if<event::Text>(&e))
            texts.push_back(t->text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Hung up: Call rejected"}));
}

// ---------------------------------------------------------------- strangers

TEST(Strangers, IncomingCallIsRefusedWithoutDisturbingOurCall)
{
    Session s;
    s.client.placeCall(s.now, kDial + "999", format::Gsm, format::Gsm);
    s.settle();
    const auto before = s.events.size();
    const std::size_t dialogs = s.client.dialogCount();
    const Address caller = Address::v4(203, 0, 113, 9, 4569);
    const Bytes incoming = frameBytes(321, 0, frametype::Iax, iaxcmd::New,
                                      IeBuilder().u16(ie::Version, 2).text(ie::CalledNumber, "alice").take());
    s.toClient(caller, incoming);
    s.toClient(caller, incoming); // repeated: refused again, nothing kept either time
    EXPECT_EQ(s.client.dialogCount(), dialogs);
    int rejects = 0;
    for (const auto &d : s.wire) {
        if (d.to != caller)
            continue;
        const auto f = decodeFullFrame(d.bytes.data(), d.bytes.size());
        EXPECT_EQ(f->subclass, iaxcmd::Reject);
        ++rejects;
        EXPECT_EQ(f->destCall, 321);
        EXPECT_EQ(f->iseqno, 1);
        EXPECT_EQ(IeList::parse(f->payload)->u8(ie::CauseCode), cause::CallRejected);
    }
    EXPECT_EQ(rejects, 2);
    // Never repeated: a REJECT is not kept for retransmission.
    s.advance(20000);
    std::size_t later = 0;
    for (const auto &d : s.wire)
        later += d.to == caller;
    EXPECT_EQ(later, 2u);
    for (std::size_t i = before; i < s.events.size(); ++i)
        EXPECT_FALSE(std::holds_alternative<event::CallState>(s.events[i]));
    EXPECT_EQ(s.client.callState(), 0x16);
}

TEST(Strangers, AFloodOfForgedCallsDelaysNeitherRegistrationNorOurCall)
{
    // 20,000 NEWs from five hosts and thousands of ports over 46 seconds,
    // while we register, renew the registration and place a call.
    Session s;
    s.client.addRegistration(s.now, 1, "alice", "wonderland", "server");
    const std::uint64_t start = s.now;
    const Bytes ies = IeBuilder().u16(ie::Version, 2).text(ie::CalledNumber, "alice").take();
    std::mt19937 random(3);
    std::map<std::string, std::size_t> rejectsPerHost;
    std::size_t sent = 0;
    std::uint64_t answeredAt = 0;
    std::uint64_t placedAt = 0;
    while (s.now < start + 46000) {
        // About 435 a second, in the same ticks as everything else.
        const std::size_t due = static_cast<std::size_t>((s.now - start + 10) * 20000 / 46000);
        for (; sent < due && sent < 20000; ++sent) {
            const Address forged = Address::v4(198, 51, 100, static_cast<std::uint8_t>(1 + random() % 5),
                                               static_cast<std::uint16_t>(1024 + random() % 60000));
            const Bytes forgedNew =
                frameBytes(static_cast<std::uint16_t>(1 + random() % 32767), 0, frametype::Iax, iaxcmd::New, ies);
            s.client.handleDatagram(s.now, forged, forgedNew.data(), forgedNew.size());
        }
        for (const auto &t : s.client.takeTransmits()) {
            if (t.to.bytes[0] == 198) {
                const auto f = decodeFullFrame(t.bytes.data(), t.bytes.size());
                EXPECT_EQ(f->subclass, iaxcmd::Reject);
                ++rejectsPerHost[t.to.toString(false)];
            } else {
                s.wire.push_back({s.now, s.clientAddress, t.to, t.bytes});
                s.server.handleDatagram(s.now, s.clientAddress, t.bytes.data(), t.bytes.size());
            }
        }
        if (placedAt == 0 && s.now >= start + 30000) {
            placedAt = s.now;
            s.client.placeCall(s.now, kDial + "004930123456", format::Gsm, format::Gsm);
        }
        s.advance(10);
        if (answeredAt == 0 && s.client.callState() == 0x16)
            answeredAt = s.now;
        ASSERT_LE(s.client.dialogCount(), 4u) << "a forged NEW took a dialog";
    }
    EXPECT_EQ(sent, 20000u);
    // Registered at once, renewed at 45 s as granted (60 s), both accepted.
    EXPECT_EQ(s.registrationReplies(),
              (std::vector<RegistrationReply>{RegistrationReply::Accepted, RegistrationReply::Accepted}));
    EXPECT_TRUE(s.server.registeredAddress("alice", s.now));
    // The call rang for the server's two seconds and was answered, no later.
    ASSERT_NE(answeredAt, 0u);
    EXPECT_LE(answeredAt - placedAt, 2100u);
    // Replies to the flood stay within each host's allowance.
    ASSERT_EQ(rejectsPerHost.size(), 5u);
    for (const auto &[host, count] : rejectsPerHost)
        EXPECT_LE(count, 5u + 5u * 46u + 1u) << host;
}

TEST(Strangers, FramesFromAnotherAddressAreIgnored)
{
    Session s;
    s.client.placeCall(s.now, kDial + "0015550101", format::Gsm, format::Gsm);
    s.settle();
    const auto accept = framesTo(s, s.clientAddress).back();
    const Address spoofer = Address::v4(198, 51, 100, 7, 4569);
    for (std::uint8_t seq = 0; seq < 8; ++seq) {
        s.toClient(spoofer, frameBytes(accept.sourceCall, accept.destCall, frametype::Control, control::Answer, {}, seq));
        s.toClient(spoofer, frameBytes(accept.sourceCall, accept.destCall, frametype::Iax, iaxcmd::Hangup, {}, seq));
    }
    EXPECT_EQ(s.client.callState(), 0x0E);
    for (const auto &d : s.wire)
        EXPECT_NE(d.to, spoofer);
}

TEST(Strangers, FramesForUnknownCallsGetInval)
{
    Session s;
    const Address peer = Address::v4(198, 51, 100, 7, 4569);
    s.toClient(peer, frameBytes(55, 1234, frametype::Control, control::Answer));
    ASSERT_EQ(s.wire.size(), 2u);
    const auto inval = decodeFullFrame(s.wire[1].bytes.data(), s.wire[1].bytes.size());
    EXPECT_EQ(inval->subclass, iaxcmd::Inval);
    EXPECT_EQ(inval->destCall, 55);
    // An INVAL or ACK for an unknown call gets nothing back: no ping-pong.
    s.toClient(peer, frameBytes(55, 1234, frametype::Iax, iaxcmd::Inval));
    s.toClient(peer, frameBytes(55, 1234, frametype::Iax, iaxcmd::Ack));
    EXPECT_EQ(s.wire.size(), 4u);
}

TEST(Strangers, ServerWantsATokenItIssuedToThatAddress)
{
    Session s;
    const Address a = Address::v4(198, 51, 100, 7, 5000);
    const Address b = Address::v4(198, 51, 100, 8, 5000);
    const Bytes ies = IeBuilder().u16(ie::Version, 2).text(ie::CalledNumber, "999").text(ie::Username, "alice").take();

    auto repliesTo = [&s](const Address &to, std::size_t from) {
        std::vector<FullFrame> out;
        for (std::size_t i = from; i < s.wire.size(); ++i)
            if (s.wire[i].to == to)
                out.push_back(*decodeFullFrame(s.wire[i].bytes.data(), s.wire[i].bytes.size()));
        return out;
    };
    // Capture what the server sends by routing its output through the harness.
    s.serverAddress = Address::v4(10, 0, 0, 2, 4569);
    auto sendAs = [&](const Address &from, const Bytes &payload) {
        const std::size_t mark = s.wire.size();
        s.server.handleDatagram(s.now, from, frameBytes(9, 0, frametype::Iax, iaxcmd::New, payload).data(),
                                frameBytes(9, 0, frametype::Iax, iaxcmd::New, payload).size());
        for (auto &t : s.server.takeTransmits())
            s.wire.push_back({s.now, s.serverAddress, t.to, t.bytes});
        return repliesTo(from, mark);
    };

    auto r = sendAs(a, ies); // no token at all
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].subclass, iaxcmd::Reject);

    Bytes withEmpty = ies;
    const Bytes emptyToken = IeBuilder().empty(ie::CallToken).take();
    withEmpty.insert(withEmpty.end(), emptyToken.begin(), emptyToken.end());
    r = sendAs(a, withEmpty);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].subclass, iaxcmd::CallToken);
    EXPECT_EQ(r[0].sourceCall, 0);
    EXPECT_EQ(r[0].destCall, 9);
    const std::string token = *IeList::parse(r[0].payload)->text(ie::CallToken);
    EXPECT_EQ(s.server.dialogCount(), 0u); // nothing kept for an unproven address

    Bytes withToken = ies;
    const Bytes tokenIe = IeBuilder().text(ie::CallToken, token).take();
    withToken.insert(withToken.end(), tokenIe.begin(), tokenIe.end());
    r = sendAs(b, withToken); // someone else's token
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].subclass, iaxcmd::Reject);
    EXPECT_EQ(s.server.dialogCount(), 0u);

    s.now += 31000; // stale
    r = sendAs(a, withToken);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].subclass, iaxcmd::Reject);
    EXPECT_EQ(s.server.dialogCount(), 0u);
}

// ---------------------------------------------------------------- voice path

TEST(Voice, FullFrameFirstThenMiniFramesUntilFormatOrWrapChanges)
{
    Session s;
    s.client.placeCall(s.now, kDial + "999", format::Gsm, format::Gsm);
    s.settle();
    EXPECT_FALSE(s.client.sendVoice(s.now, format::Gsm, {}));
    const std::size_t mark = s.wire.size();
    const Bytes frame(33, 0xd8);
    EXPECT_TRUE(s.client.sendVoice(s.now, format::Gsm, frame, 100));
    EXPECT_TRUE(s.client.sendVoice(s.now, format::Gsm, frame, 120));
    EXPECT_TRUE(s.client.sendVoice(s.now, format::Gsm, frame, 65530));
    EXPECT_TRUE(s.client.sendVoice(s.now, format::Gsm, frame, 65550)); // the low 16 bits wrapped
    EXPECT_TRUE(s.client.sendVoice(s.now, 1u << 2, frame, 65570));    // another format
    s.settle();
    std::vector<std::string> kinds;
    for (std::size_t i = mark; i < s.wire.size(); ++i) {
        const auto &d = s.wire[i];
        if (d.from != s.clientAddress)
            continue;
        const auto kind = classifyDatagram(d.bytes.data(), d.bytes.size());
        if (kind == DatagramKind::Mini) {
            kinds.push_back("mini@" + std::to_string(decodeMiniFrame(d.bytes.data(), d.bytes.size())->timestamp));
        } else {
            const auto f = decodeFullFrame(d.bytes.data(), d.bytes.size());
            if (f->type == frametype::Voice)
                kinds.push_back("full" + std::to_string(f->subclass) + "@" + std::to_string(f->timestamp));
        }
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"full2@100", "mini@120", "mini@65530", "full2@65550", "full4@65570"}));
    // The server acknowledged the full voice frames: nothing is left to resend.
    s.advance(20000);
    EXPECT_EQ(s.states(), (std::vector<int>{0x06, 0x16}));
}

TEST(Voice, ReceivedMiniFramesGetTheirHighBitsBackAcrossTheWrap)
{
    Session s;
    s.client.placeCall(s.now, kDial + "999", format::Gsm, format::Gsm);
    s.settle();
    const ServerEnd server = serverEnd(s.wire, s.clientAddress);
    const std::uint16_t serverCall = server.serverCall;
    const std::uint16_t clientCall = server.clientCall;
    std::uint8_t next = server.next;
    auto mini = [&](std::uint16_t ts) {
        MiniFrame m;
        m.sourceCall = serverCall;
        m.timestamp = ts;
        m.payload = {1, 2, 3};
        return encodeMiniFrame(m);
    };
    s.toClient(s.serverAddress, mini(10)); // before any full voice frame: format unknown
    EXPECT_TRUE(s.client.takeVoice().empty());

    FullFrame voice;
    voice.sourceCall = serverCall;
    voice.destCall = clientCall;
    voice.timestamp = 0x1fff0;
    voice.oseqno = next;
    voice.type = frametype::Voice;
    voice.subclass = format::Gsm;
    voice.payload = {9};
    s.toClient(s.serverAddress, encodeFullFrame(voice));
    s.toClient(s.serverAddress, mini(0xfff8));
    s.toClient(s.serverAddress, mini(0x0004)); // wrapped forward
    s.toClient(s.serverAddress, mini(0xfffc)); // late, from before the wrap
    s.toClient(Address::v4(198, 51, 100, 7, 4569), mini(0x0010)); // a stranger
    const auto got = s.client.takeVoice();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].timestamp, 0x1fff0u);
    EXPECT_EQ(got[0].format, format::Gsm);
    EXPECT_EQ(got[1].timestamp, 0x1fff8u);
    EXPECT_EQ(got[2].timestamp, 0x20004u);
    EXPECT_EQ(got[3].timestamp, 0x1fffcu);
    EXPECT_EQ(got[3].data, (Bytes{1, 2, 3}));
}
