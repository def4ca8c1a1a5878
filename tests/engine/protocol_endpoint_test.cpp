// The endpoint alone: which dialog a frame is for, what strangers hear, and
// when finished dialogs go.
#include "endpoint.h"
#include "iax2_constants.h"

#include <gtest/gtest.h>

using namespace iax2;

namespace {

struct PlainDialog : Dialog {
    explicit PlainDialog(Leg l) : Dialog(std::move(l)) {}
};

const Address kPeer = Address::v4(192, 0, 2, 1, 4569);
const Address kStranger = Address::v4(198, 51, 100, 7, 4569);

FullFrame command(std::uint16_t dest, std::uint16_t source, std::uint32_t subclass)
{
    FullFrame f;
    f.destCall = dest;
    f.sourceCall = source;
    f.type = frametype::Iax;
    f.subclass = subclass;
    return f;
}

} // namespace

TEST(Endpoint, RoutesFramesFromTheDialogsPeerOnlyAndAnswersUnknownCallsWithInval)
{
    Endpoint<PlainDialog> endpoint{EndpointOptions{}};
    PlainDialog *d = endpoint.open(0, kPeer);
    ASSERT_NE(d, nullptr);
    const std::uint16_t ours = d->leg.localCall();
    Outbox out;
    EXPECT_EQ(endpoint.dialogFor(0, kPeer, command(ours, 77, iaxcmd::Ping), out), d);
    EXPECT_EQ(endpoint.dialogFor(0, kStranger, command(ours, 77, iaxcmd::Ping), out), nullptr);
    EXPECT_TRUE(out.empty());

    const std::uint16_t unknown = static_cast<std::uint16_t>(ours % 0x7fff + 1);
    EXPECT_EQ(endpoint.dialogFor(0, kStranger, command(unknown, 77, iaxcmd::Ping), out), nullptr);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].to, kStranger);
    const auto inval = decodeFullFrame(out[0].bytes.data(), out[0].bytes.size());
    EXPECT_EQ(inval->subclass, iaxcmd::Inval);
    EXPECT_EQ(inval->destCall, 77);

    // Never about an ACK or a call token, so two ends cannot answer each other forever.
    out.clear();
    endpoint.dialogFor(0, kStranger, command(unknown, 77, iaxcmd::Ack), out);
    endpoint.dialogFor(0, kStranger, command(unknown, 77, iaxcmd::CallToken), out);
    EXPECT_TRUE(out.empty());
}

TEST(Endpoint, ReapsFinishedDialogsOnceAcknowledgedOrGivenUpAndForgetsTheirPeerCalls)
{
    EndpointOptions options;
    options.lingerMs = 1000;
    Endpoint<PlainDialog> endpoint{options};
    Outbox out;
    PlainDialog *ended = endpoint.open(0, kPeer);
    PlainDialog *silent = endpoint.open(0, kPeer);
    ASSERT_TRUE(ended && silent);
    const std::uint16_t silentCall = silent->leg.localCall();
    endpoint.bindPeerCall(kPeer, 77, ended->leg.localCall());
    EXPECT_EQ(endpoint.byPeerCall(kPeer, 77), ended);
    EXPECT_EQ(endpoint.byPeerCall(kStranger, 77), nullptr);
    ended->leg.send(0, frametype::Iax, iaxcmd::Hangup, {}, out); // never acknowledged
    endpoint.finish(0, *ended);
    silent->leg.send(0, frametype::Iax, iaxcmd::Ping, {}, out); // never answered

    std::vector<std::uint16_t> failed;
    std::uint64_t now = 2000;
    const auto onFailed = [&](PlainDialog &d) {
        failed.push_back(d.leg.localCall());
        endpoint.finish(now, d);
    };
    endpoint.poll(now, out, onFailed);
    EXPECT_EQ(endpoint.size(), 2u) << "a finished dialog stays while its HANGUP is unacknowledged";
    while (endpoint.size() > 0 && now < 120000) {
        ASSERT_TRUE(endpoint.deadline().at());
        now = std::max(now + 1, *endpoint.deadline().at());
        endpoint.poll(now, out, onFailed);
    }
    // Only the dialog that was still open is reported as failed.
    EXPECT_EQ(failed, std::vector<std::uint16_t>{silentCall});
    EXPECT_EQ(endpoint.size(), 0u);
    EXPECT_EQ(endpoint.byPeerCall(kPeer, 77), nullptr);
    EXPECT_FALSE(endpoint.deadline().at());
}
