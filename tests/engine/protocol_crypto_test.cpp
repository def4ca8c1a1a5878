// Encrypted calls: the frame cipher alone, then the engine's protocol core
// and the devserver's back to back, in each of the server's modes, with
// datagrams that must never be taken for frames of an encrypted call.
#include "session_harness.h"

#include "frame_cipher.h"
#include "iax2_constants.h"
#include "ie.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace iax2;

namespace {

const std::string kEcho = "alice:wonderland@server/999";

Bytes gsmLike(std::uint8_t n)
{
    Bytes b(33, n);
    b[0] = 0xD0;
    return b;
}

Session encryptingSession(devserver::EncryptionMode mode, bool clientOffers = true)
{
    ClientOptions client = Session::clientOptions();
    client.offerEncryption = clientOffers;
    devserver::ServerCoreOptions server;
    server.encryption = mode;
    return Session(client, server);
}

// The server's AUTHREQ as it went on the wire (always in the clear).
std::optional<FullFrame> challengeOf(const Session &s)
{
    for (const auto &f : framesTo(s.wire, s.clientAddress))
        if (f.type == frametype::Iax && f.subclass == iaxcmd::AuthReq)
            return f;
    return std::nullopt;
}

} // namespace

TEST(FrameCipher, KeepsTheCallNumbersPadsToBlocksAndOpensBack)
{
    const FrameCipher cipher(challengeKey("214365870", "wonderland"));
    FullFrame full;
    full.sourceCall = 0x1234;
    full.destCall = 0x0567;
    full.timestamp = 987654;
    full.oseqno = 3;
    full.iseqno = 4;
    full.type = frametype::Iax;
    full.subclass = iaxcmd::Ping;
    MiniFrame mini;
    mini.sourceCall = 0x1234;
    mini.timestamp = 0xfedc;
    for (std::size_t payload : {0, 1, 7, 8, 20, 24, 33, 200}) {
        SCOPED_TRACE(payload);
        full.payload.assign(payload, 0x5a);
        mini.payload.assign(payload + 1, 0xa5); // a mini frame carries at least a byte
        for (const Bytes &plain : {encodeFullFrame(full), encodeMiniFrame(mini)}) {
            const std::size_t clear = plain[0] & 0x80 ? 4 : 2;
            const Bytes sealed = cipher.seal(plain);
            ASSERT_FALSE(sealed.empty());
            EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + clear, sealed.begin()));
            const std::size_t body = plain.size() - clear, padded = sealed.size() - clear;
            EXPECT_EQ(padded % 16, 0u);
            EXPECT_GE(padded - body, 16u);
            EXPECT_LE(padded - body, 31u);
            // Random padding leads: the same frame never looks the same twice.
            EXPECT_NE(cipher.seal(plain), sealed);
            const auto opened = cipher.open(sealed.data(), sealed.size());
            ASSERT_TRUE(opened);
            EXPECT_EQ(*opened, plain);
        }
    }
    // What cannot be an encrypted frame: whole blocks only, at least two.
    const Bytes original = encodeFullFrame(full);
    const Bytes sealed = cipher.seal(original);
    EXPECT_FALSE(cipher.open(sealed.data(), sealed.size() - 1));
    EXPECT_FALSE(cipher.open(sealed.data(), 4 + 16));
    full.payload.clear();
    const Bytes plain = encodeFullFrame(full);
    EXPECT_FALSE(cipher.open(plain.data(), plain.size())) << "a plain PING is not whole blocks";
    // Another key opens it to something else, if at all.
    const FrameCipher other(challengeKey("214365870", "wrong"));
    const auto wrong = other.open(sealed.data(), sealed.size());
    EXPECT_TRUE(!wrong || *wrong != original);
}

Bytes fromHex(const std::string &hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// Two frames Asterisk 22 sent on a call to a peer with "encryption = aes128",
// as captured: its challenge was "196853619", the secret "9d013bde73f3d68b".
// They open only if key, chaining and padding are as Asterisk makes them.
TEST(FrameCipher, OpensFramesAsteriskEncrypted)
{
    const FrameCipher cipher(challengeKey("196853619", "9d013bde73f3d68b"));
    const Bytes accept = fromHex("ad5a03a168933a1736ff227089f4111a438d18ef667e65f035f288374d2877b6"
                                 "43c4b6ec2a83762651ec7aff08ee1ed27a7d10ac");
    const Bytes answer = fromHex("ad5a03a1894707a024d439f0455978902eb684861f0ea63ae3c9d385d45a5c8f"
                                 "d422f70b");
    const auto opened = cipher.open(accept.data(), accept.size());
    ASSERT_TRUE(opened);
    const auto f = decodeFullFrame(opened->data(), opened->size());
    ASSERT_TRUE(f);
    EXPECT_EQ(f->sourceCall, 11610);
    EXPECT_EQ(f->destCall, 929);
    EXPECT_EQ(f->timestamp, 23u);
    EXPECT_EQ(f->oseqno, 1);
    EXPECT_EQ(f->iseqno, 2);
    EXPECT_EQ(f->type, frametype::Iax);
    EXPECT_EQ(f->subclass, iaxcmd::Accept);
    EXPECT_EQ(IeList::parse(f->payload)->u32(ie::Format), format::Gsm);

    const auto opened2 = cipher.open(answer.data(), answer.size());
    ASSERT_TRUE(opened2);
    const auto g = decodeFullFrame(opened2->data(), opened2->size());
    ASSERT_TRUE(g);
    EXPECT_EQ(g->timestamp, 26u);
    EXPECT_EQ(g->type, frametype::Control);
    EXPECT_EQ(g->subclass, control::Answer);
    EXPECT_TRUE(g->payload.empty());
}

TEST(EncryptedCall, EverythingAfterTheChallengeIsEncryptedBothWaysRepeatsIncluded)
{
    Session s = encryptingSession(devserver::EncryptionMode::Offer);
    // The server's first two frames after the challenge (its ACK of our
    // answer, the ACCEPT) are lost, so the ACCEPT goes again.
    int dropped = 0;
    s.drop = [&](const Datagram &d) {
        const auto plain = decodeFullFrame(d.bytes.data(), d.bytes.size());
        const bool challenge = plain && plain->type == frametype::Iax && plain->subclass == iaxcmd::AuthReq;
        if (dropped >= 2 || d.to != s.clientAddress || !(d.bytes[0] & 0x80) || challenge || !challengeOf(s))
            return false;
        return ++dropped > 0;
    };
    s.client.placeCall(s.now, kEcho, format::Gsm, format::Gsm);
    s.advance(2000);
    ASSERT_EQ(s.states().back(), 0x16);
    EXPECT_TRUE(s.client.callEncrypted());
    for (int i = 0; i < 5; ++i) {
        s.client.sendVoice(s.now, format::Gsm, gsmLike(static_cast<std::uint8_t>(i)), 3000 + 20u * i);
        s.advance(20);
    }
    s.client.sendDtmf(s.now, '7');
    s.advance(100);
    const auto back = s.client.takeVoice();
    ASSERT_EQ(back.size(), 5u);
    for (std::size_t i = 0; i < back.size(); ++i)
        EXPECT_EQ(back[i].data, gsmLike(static_cast<std::uint8_t>(i)));
    ASSERT_EQ(s.backend.records().size(), 1u);
    EXPECT_EQ(s.backend.records()[0].dtmf, "7");
    s.client.hangup(s.now);
    s.advance(1000);
    EXPECT_FALSE(s.client.callEncrypted());

    // Every datagram of the call after the challenge opens with the key the
    // challenge and the secret give, and none reads as a frame without it.
    const auto challenge = challengeOf(s);
    ASSERT_TRUE(challenge);
    const auto ies = IeList::parse(challenge->payload);
    ASSERT_TRUE(ies && ies->u16(ie::Encryption));
    EXPECT_EQ(*ies->u16(ie::Encryption), encryption::Aes128);
    const FrameCipher cipher(challengeKey(*ies->text(ie::Challenge), "wonderland"));
    bool afterChallenge = false;
    int sealed = 0, repeats = 0, minis = 0;
    std::set<std::string> kinds;
    for (const auto &d : s.wire) {
        const auto plain = decodeFullFrame(d.bytes.data(), d.bytes.size());
        if (!afterChallenge) {
            afterChallenge = plain && plain->type == frametype::Iax && plain->subclass == iaxcmd::AuthReq;
            continue;
        }
        const auto opened = cipher.open(d.bytes.data(), d.bytes.size());
        ASSERT_TRUE(opened) << "sent in the clear after the challenge";
        ++sealed;
        if (!(d.bytes[0] & 0x80)) {
            ++minis;
            continue;
        }
        const auto f = decodeFullFrame(opened->data(), opened->size());
        ASSERT_TRUE(f);
        repeats += f->retransmitted;
        kinds.insert(std::to_string(f->type) + "/" + std::to_string(f->subclass));
    }
    EXPECT_GE(repeats, 1);
    EXPECT_GE(minis, 8); // four each way
    // Our ACK of the challenge, the answer, the acceptance, the echo's voice, the digit, the hang-up.
    for (const char *kind : {"6/4", "6/9", "6/7", "4/4", "2/2", "1/55", "6/5"})
        EXPECT_TRUE(kinds.count(kind)) << kind;
    std::printf("%d datagrams after the challenge, all encrypted (%d mini, %d repeats)\n", sealed, minis, repeats);
    EXPECT_EQ(s.client.undecryptableFrames(), 0u);
    EXPECT_EQ(s.server.undecryptableFrames(), 0u);
}

TEST(EncryptedCall, EachServerModeWithAClientThatOffersAndOneThatDoesNot)
{
    using devserver::EncryptionMode;
    struct Case {
        EncryptionMode mode;
        bool clientOffers;
        bool answered;
        bool encrypted;
    };
    for (const Case &c : {Case{EncryptionMode::Off, true, true, false}, Case{EncryptionMode::Off, false, true, false},
                          Case{EncryptionMode::Offer, true, true, true}, Case{EncryptionMode::Offer, false, true, false},
                          Case{EncryptionMode::Require, true, true, true},
                          Case{EncryptionMode::Require, false, false, false}}) {
        SCOPED_TRACE(::testing::Message() << "mode " << int(c.mode) << ", client offers " << c.clientOffers);
        Session s = encryptingSession(c.mode, c.clientOffers);
        s.client.placeCall(s.now, kEcho, format::Gsm, format::Gsm);
        s.advance(500);
        const auto states = s.states();
        ASSERT_FALSE(states.empty());
        EXPECT_EQ(states.back(), c.answered ? 0x16 : 0);
        EXPECT_EQ(s.client.callEncrypted(), c.encrypted);
        if (!c.answered) {
            const auto refusal = framesTo(s.wire, s.clientAddress).back();
            EXPECT_EQ(refusal.subclass, iaxcmd::Reject);
            EXPECT_EQ(IeList::parse(refusal.payload)->text(ie::Cause), "This server takes encrypted calls only");
            continue;
        }
        s.client.sendVoice(s.now, format::Gsm, gsmLike(1), 1000);
        s.advance(100);
        EXPECT_EQ(s.client.takeVoice().size(), 1u);
        s.client.hangup(s.now);
        s.advance(1000);
        EXPECT_EQ(s.server.openCallCount(), 0u);
    }
}

TEST(EncryptedCall, WrongSecretNeverOpensAndTheCallFailsWithoutAnAnswer)
{
    Session s = encryptingSession(devserver::EncryptionMode::Require);
    s.client.placeCall(s.now, "alice:not-her-secret@server/999", format::Gsm, format::Gsm);
    s.advance(60000);
    EXPECT_EQ(s.states().back(), 0);
    EXPECT_GT(s.server.undecryptableFrames(), 0u);
    EXPECT_EQ(s.backend.records().size(), 0u);
}

TEST(EncryptedCall, DatagramsThatDoNotOpenToAFrameAreDroppedCountedAndNeverPlayed)
{
    Session s = encryptingSession(devserver::EncryptionMode::Offer);
    s.client.placeCall(s.now, kEcho, format::Gsm, format::Gsm);
    s.advance(500);
    ASSERT_TRUE(s.client.callEncrypted());
    s.client.sendVoice(s.now, format::Gsm, gsmLike(1), 1000);
    s.advance(20);
    s.client.sendVoice(s.now, format::Gsm, gsmLike(2), 1020);
    const std::uint64_t lastVoiceAt = s.now;
    s.advance(20);
    ASSERT_EQ(s.client.takeVoice().size(), 2u);
    const ServerEnd end = serverEnd(s.wire, s.clientAddress);

    std::vector<Bytes> hostile;
    // The same frames in the clear: voice, a digit, a hang-up.
    MiniFrame mini;
    mini.sourceCall = end.serverCall;
    mini.timestamp = 1060;
    mini.payload = gsmLike(9);
    hostile.push_back(encodeMiniFrame(mini));
    for (const auto &[type, subclass] : {std::pair{frametype::Voice, 2u}, {frametype::DtmfEnd, 55u},
                                         {frametype::Iax, unsigned(iaxcmd::Hangup)}}) {
        FullFrame f;
        f.sourceCall = end.serverCall;
        f.destCall = end.clientCall;
        f.timestamp = 1080;
        f.oseqno = end.next;
        f.type = type;
        f.subclass = subclass;
        if (type == frametype::Voice)
            f.payload = gsmLike(9);
        hostile.push_back(encodeFullFrame(f));
    }
    // Frames sealed with the call's own key that are still not the peer's:
    // voice far off the stream's time, voice that is not whole GSM frames,
    // voice in a format the call does not have, a frame type that does not exist.
    const auto challenge = IeList::parse(challengeOf(s)->payload);
    const FrameCipher key(challengeKey(*challenge->text(ie::Challenge), "wonderland"));
    mini.timestamp = static_cast<std::uint16_t>(1020 + 5000);
    hostile.push_back(key.seal(encodeMiniFrame(mini)));
    mini.timestamp = 1040;
    mini.payload = Bytes(20, 0xd0);
    hostile.push_back(key.seal(encodeMiniFrame(mini)));
    for (std::uint8_t type : {frametype::Voice, std::uint8_t(0), std::uint8_t(13)}) {
        FullFrame f;
        f.sourceCall = end.serverCall;
        f.destCall = end.clientCall;
        f.timestamp = 1040;
        f.oseqno = end.next;
        f.type = type;
        f.subclass = 4; // u-law
        f.payload = gsmLike(9);
        hostile.push_back(key.seal(encodeFullFrame(f)));
    }
    // Noise behind the right call numbers, in lengths a frame could have.
    // The key is new each run, so what noise opens to differs: mini frames
    // get lengths that cannot open to whole GSM frames, so that none plays
    // by chance (one of 64 bytes would, about once in 8000 tries).
    std::mt19937 noise(7);
    for (int i = 0; i < 400; ++i) {
        static const int blocks[] = {2, 3, 5, 6};
        Bytes b(2 + 16 * blocks[i / 2 % 4] + (i % 2 ? 2 : 0));
        for (auto &byte : b)
            byte = static_cast<std::uint8_t>(noise());
        if (i % 2) {
            b[0] = static_cast<std::uint8_t>(0x80 | end.serverCall >> 8);
            b[1] = static_cast<std::uint8_t>(end.serverCall);
            b[2] = static_cast<std::uint8_t>(end.clientCall >> 8);
            b[3] = static_cast<std::uint8_t>(end.clientCall);
        } else {
            b[0] = static_cast<std::uint8_t>(end.serverCall >> 8);
            b[1] = static_cast<std::uint8_t>(end.serverCall);
        }
        hostile.push_back(b);
    }
    for (const auto &b : hostile) {
        s.toClient(s.serverAddress, b);
        s.advance(10);
    }
    const auto played = s.client.takeVoice();
    for (const auto &v : played)
        ADD_FAILURE() << "played " << v.timestamp << " " << v.data.size() << " " << int(v.data[0]) << int(v.data[1]);
    EXPECT_EQ(s.states().back(), 0x16) << "the call did not hold";
    // Each was dropped, whether it did not open or opened to no frame of
    // ours. Noise opens to a frame type that exists about once in twenty
    // (the key is new each run): such a frame goes on to sequencing, where
    // it is acknowledged again or asked for as out of order, nothing more.
    EXPECT_GE(s.client.undecryptableFrames(), hostile.size() - 30);
    std::printf("%zu hostile datagrams, %llu counted as not opening to a frame\n", hostile.size(),
                static_cast<unsigned long long>(s.client.undecryptableFrames()));
    // The real stream goes on.
    s.client.sendVoice(s.now, format::Gsm, gsmLike(3), 1020 + std::uint32_t(s.now - lastVoiceAt) / 20 * 20);
    s.advance(20);
    EXPECT_EQ(s.client.takeVoice().size(), 1u);
}

TEST(EncryptedCall, VoiceAfterTheSendersOwnStallIsStillHeard)
{
    // Stamps that count frames fall behind the clock when the sender stalls
    // (a sound card that stops for a while): the stream goes on from where
    // it was, later than the time that passed would put it.
    Session s = encryptingSession(devserver::EncryptionMode::Offer);
    s.client.placeCall(s.now, kEcho, format::Gsm, format::Gsm);
    s.advance(500);
    ASSERT_TRUE(s.client.callEncrypted());
    std::uint32_t stamp = 1000;
    for (int i = 0; i < 5; ++i, stamp += 20) {
        s.client.sendVoice(s.now, format::Gsm, gsmLike(1), stamp);
        s.advance(20);
    }
    s.advance(3000);
    for (int i = 0; i < 5; ++i, stamp += 20) {
        s.client.sendVoice(s.now, format::Gsm, gsmLike(2), stamp);
        s.advance(20);
    }
    EXPECT_EQ(s.client.takeVoice().size(), 10u);
    EXPECT_EQ(s.client.undecryptableFrames(), 0u);
}

TEST(EncryptedCall, SealedVoiceWhoseStreamMovesIsFollowedAfterOneFrame)
{
    // A peer's stamps may move without a full frame to say so. One whole GSM
    // frame off the stream is taken for noise; the next that goes on from
    // it shows the stream moved, and the call is heard again.
    Session s = encryptingSession(devserver::EncryptionMode::Offer);
    s.client.placeCall(s.now, kEcho, format::Gsm, format::Gsm);
    s.advance(500);
    ASSERT_TRUE(s.client.callEncrypted());
    s.client.sendVoice(s.now, format::Gsm, gsmLike(1), 1000);
    s.advance(20);
    ASSERT_EQ(s.client.takeVoice().size(), 1u);
    const ServerEnd end = serverEnd(s.wire, s.clientAddress);
    const auto challenge = IeList::parse(challengeOf(s)->payload);
    const FrameCipher key(challengeKey(*challenge->text(ie::Challenge), "wonderland"));

    MiniFrame mini;
    mini.sourceCall = end.serverCall;
    mini.payload = gsmLike(4);
    for (std::uint32_t i = 0; i < 5; ++i) {
        mini.timestamp = static_cast<std::uint16_t>(1020 + 8000 + 20 * i);
        s.toClient(s.serverAddress, key.seal(encodeMiniFrame(mini)));
        s.advance(20);
    }
    EXPECT_EQ(s.client.takeVoice().size(), 4u);
    EXPECT_EQ(s.client.undecryptableFrames(), 1u);
}
