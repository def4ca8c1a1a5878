// Frames, information elements, MD5 answers, dial strings and call tokens.
#include "call_token.h"
#include "dial_string.h"
#include "frame.h"
#include "iax2_constants.h"
#include "ie.h"
#include "md5.h"

#include <gtest/gtest.h>

using namespace iax2;

TEST(FullFrame, EncodesTheHeaderBigEndianWithFlags)
{
    FullFrame f;
    f.sourceCall = 0x1234;
    f.destCall = 0x0567;
    f.retransmitted = true;
    f.timestamp = 0x01020304;
    f.oseqno = 7;
    f.iseqno = 9;
    f.type = frametype::Iax;
    f.subclass = iaxcmd::RegReq;
    f.payload = {0xaa, 0xbb};
    const Bytes expected = {0x92, 0x34, 0x85, 0x67, 0x01, 0x02, 0x03, 0x04, 7, 9, 6, 13, 0xaa, 0xbb};
    EXPECT_EQ(encodeFullFrame(f), expected);

    const auto back = decodeFullFrame(expected.data(), expected.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->sourceCall, 0x1234);
    EXPECT_EQ(back->destCall, 0x0567);
    EXPECT_TRUE(back->retransmitted);
    EXPECT_EQ(back->timestamp, 0x01020304u);
    EXPECT_EQ(back->oseqno, 7);
    EXPECT_EQ(back->iseqno, 9);
    EXPECT_EQ(back->type, frametype::Iax);
    EXPECT_EQ(back->subclass, iaxcmd::RegReq);
    EXPECT_EQ(back->payload, (Bytes{0xaa, 0xbb}));
}

TEST(FullFrame, SubclassesAbove127TravelAsPowersOfTwo)
{
    EXPECT_EQ(encodeSubclass(0x02), 0x02);
    EXPECT_EQ(encodeSubclass(0x80), 0x87);
    EXPECT_EQ(encodeSubclass(1u << 31), 0x9f);
    EXPECT_FALSE(encodeSubclass(0x81)); // not a power of two
    EXPECT_EQ(decodeSubclass(0x87), 0x80u);
    EXPECT_EQ(decodeSubclass(0xa0), kSubclassUnknown); // exponent 32 cannot be held
    // 0xFF is -1, which servers send in Control frames; it must survive both ways.
    EXPECT_EQ(decodeSubclass(0xff), kSubclassMinusOne);
    EXPECT_EQ(encodeSubclass(kSubclassMinusOne), 0xff);

    FullFrame f;
    f.sourceCall = 1;
    f.type = frametype::Voice;
    f.subclass = 0x81;
    EXPECT_TRUE(encodeFullFrame(f).empty());
    f.subclass = 0x02;
    f.sourceCall = 0x8000; // beyond 15 bits
    EXPECT_TRUE(encodeFullFrame(f).empty());
}

TEST(FullFrame, RejectsShortOrImpossibleDatagrams)
{
    const Bytes shortOne = {0x80, 0x01, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 6};
    EXPECT_FALSE(decodeFullFrame(shortOne.data(), shortOne.size()));
    EXPECT_EQ(classifyDatagram(shortOne.data(), shortOne.size()), DatagramKind::Invalid);
    // A subclass with no meaning to us is still a frame to acknowledge.
    const Bytes oddSubclass = {0x80, 0x01, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 2, 0xc0};
    ASSERT_TRUE(decodeFullFrame(oddSubclass.data(), oddSubclass.size()));
    EXPECT_EQ(decodeFullFrame(oddSubclass.data(), oddSubclass.size())->subclass, kSubclassUnknown);
    const Bytes voiceOutsideCall = {0x80, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 2, 0x02};
    EXPECT_FALSE(decodeFullFrame(voiceOutsideCall.data(), voiceOutsideCall.size()));
    EXPECT_FALSE(decodeFullFrame(nullptr, 0));
    EXPECT_EQ(classifyDatagram(nullptr, 0), DatagramKind::Invalid);
}

TEST(MiniFrame, RoundTripsAndIsToldApartFromMetaFrames)
{
    MiniFrame m;
    m.sourceCall = 0x0102;
    m.timestamp = 0xfffe;
    m.payload = {1, 2, 3};
    const Bytes bytes = encodeMiniFrame(m);
    EXPECT_EQ(bytes, (Bytes{0x01, 0x02, 0xff, 0xfe, 1, 2, 3}));
    EXPECT_EQ(classifyDatagram(bytes.data(), bytes.size()), DatagramKind::Mini);
    const auto back = decodeMiniFrame(bytes.data(), bytes.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->sourceCall, 0x0102);
    EXPECT_EQ(back->timestamp, 0xfffe);
    EXPECT_EQ(back->payload, m.payload);

    const Bytes meta = {0x00, 0x00, 0x80, 0x01, 9};
    EXPECT_EQ(classifyDatagram(meta.data(), meta.size()), DatagramKind::Meta);
    EXPECT_FALSE(decodeMiniFrame(meta.data(), meta.size()));
}

TEST(SequenceNumbers, CompareAcrossTheWrap)
{
    EXPECT_TRUE(seqBefore(1, 2));
    EXPECT_TRUE(seqBefore(250, 3));
    EXPECT_FALSE(seqBefore(3, 250));
    EXPECT_FALSE(seqBefore(5, 5));
}

TEST(InformationElements, BuildAndParseEveryWidth)
{
    IeBuilder b;
    b.text(ie::Username, "alice").u16(ie::Refresh, 60).u32(ie::Format, 2).u8(ie::CauseCode, 17).empty(ie::CallToken);
    const auto list = IeList::parse(b.bytes());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->text(ie::Username), "alice");
    EXPECT_EQ(list->u16(ie::Refresh), 60);
    EXPECT_EQ(list->u32(ie::Format), 2u);
    EXPECT_EQ(list->u8(ie::CauseCode), 17);
    EXPECT_TRUE(list->has(ie::CallToken));
    EXPECT_EQ(list->text(ie::CallToken), "");
    EXPECT_FALSE(list->has(ie::Challenge));
    // The wrong width is no value at all.
    EXPECT_FALSE(list->u32(ie::Refresh));
    EXPECT_FALSE(list->u16(ie::Username));
}

TEST(InformationElements, TruncatedListsAreRefusedWhole)
{
    const Bytes lengthPastEnd = {ie::Username, 5, 'a', 'b'};
    EXPECT_FALSE(IeList::parse(lengthPastEnd));
    const Bytes lonelyType = {ie::Username, 1, 'a', ie::Refresh};
    EXPECT_FALSE(IeList::parse(lonelyType));
    EXPECT_TRUE(IeList::parse(Bytes{}));
}

TEST(InformationElements, LongTextsAreCutToWhatAnElementHolds)
{
    IeBuilder b;
    b.text(ie::Cause, std::string(300, 'x'));
    ASSERT_EQ(b.bytes().size(), 257u);
    EXPECT_EQ(b.bytes()[1], 255);
    EXPECT_EQ(IeList::parse(b.bytes())->text(ie::Cause)->size(), 255u);
}

TEST(Md5, AnswersChallengesAsChallengeThenSecret)
{
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5ChallengeAnswer("ab", "c"), md5Hex("abc"));
}

TEST(DialString, SplitsCredentialsHostPortAndNumber)
{
    auto d = parseDialString("alice:secret@iax.example.com/004412345", 4569);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->user, "alice");
    EXPECT_EQ(d->password, "secret");
    EXPECT_EQ(d->server.host, "iax.example.com");
    EXPECT_EQ(d->server.port, 4569);
    EXPECT_EQ(d->number, "004412345");

    d = parseDialString("bob:pa:ss@w/rd@127.0.0.1:4570/999", 4569);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->user, "bob");
    EXPECT_EQ(d->password, "pa:ss@w/rd");
    EXPECT_EQ(d->server.host, "127.0.0.1");
    EXPECT_EQ(d->server.port, 4570);
    EXPECT_EQ(d->number, "999");

    d = parseDialString("carol:x@[::1]:4571/00 999", 4569);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->server.host, "::1");
    EXPECT_EQ(d->server.port, 4571);
    EXPECT_EQ(d->number, "00 999"); // the program may send blanks; they pass as they are

    d = parseDialString("dave@host/123", 4569);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->password, "");
}

TEST(DialString, RefusesWhatCannotBeDialled)
{
    for (const char *bad : {"", "alice:secret", "alice:secret@host", "alice:secret@host/", ":pw@host/1",
                            "a:b@host:0/1", "a:b@host:70000/1", "a:b@host:45x/1", "a:b@/1", "a:b@[::1/1",
                            "a:b@ho st/1"})
        EXPECT_FALSE(parseDialString(bad, 4569)) << bad;
}

TEST(HostPort, AcceptsTheFormsOfTheServerSetting)
{
    EXPECT_EQ(parseHostPort("iax.example.com", 4569)->port, 4569);
    EXPECT_EQ(parseHostPort("iax.example.com:4570", 4569)->port, 4570);
    EXPECT_EQ(parseHostPort("fe80::1", 4569)->host, "fe80::1");
    EXPECT_EQ(parseHostPort("[fe80::1]:4572", 4569)->port, 4572);
    EXPECT_FALSE(parseHostPort("", 4569));
    EXPECT_FALSE(parseHostPort("host:", 4569));
    EXPECT_FALSE(parseHostPort("[]:5", 4569));
}

TEST(CallToken, VerifiesOnlyFreshTokensForTheSameAddress)
{
    CallTokenIssuer issuer("secret", 30);
    const Address a = Address::v4(10, 0, 0, 1, 40000);
    const Address b = Address::v4(10, 0, 0, 1, 40001);
    const std::string token = issuer.issue(a, 1000);
    EXPECT_TRUE(issuer.verify(token, a, 1000));
    EXPECT_TRUE(issuer.verify(token, a, 1030));
    EXPECT_FALSE(issuer.verify(token, a, 1031)); // too old
    EXPECT_FALSE(issuer.verify(token, a, 999));  // from the future
    EXPECT_FALSE(issuer.verify(token, b, 1000)); // another address
    EXPECT_FALSE(CallTokenIssuer("other", 30).verify(token, a, 1000));
    std::string tampered = token;
    tampered.back() = tampered.back() == '0' ? '1' : '0';
    EXPECT_FALSE(issuer.verify(tampered, a, 1000));
    for (const char *junk : {"", "?", "1000", "abc?def", "99999999999999999999999?x", "1000?"})
        EXPECT_FALSE(issuer.verify(junk, a, 1000)) << junk;
}
