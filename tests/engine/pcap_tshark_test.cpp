// An independent reading of our frames: a whole registration and call,
// written as a capture and decoded by tshark's IAX2 dissector.
#include "pcap_writer.h"

#include "iax2_constants.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sstream>
#include <unistd.h>

namespace {

} // namespace

TEST(Tshark, ReadsARegistrationAndCallAsWeMeantIt)
{
    const std::string tshark = TSHARK_PATH;
    if (tshark.empty() || tshark.find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "tshark is not installed";

    Session s;
    s.client.addRegistration(s.now, 1, "alice", "wonderland", "server");
    s.advance(200);
    s.client.placeCall(s.now, "alice:wonderland@server/0049301234", iax2::format::Gsm, iax2::format::Gsm);
    s.advance(2500);
    s.client.sendDtmf(s.now, '4');
    s.client.sendDtmf(s.now, '#');
    s.advance(1000);
    s.client.hangup(s.now);
    s.advance(500);
    s.client.removeRegistration(s.now, 1);
    s.advance(500);
    ASSERT_EQ(s.states(), (std::vector<int>{0x06, 0x0E, 0x16, 0x00}));

    char dir[] = "/tmp/ondavox-pcap-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/call.pcap";
    ASSERT_TRUE(writePcap(path, s.wire));

    // Every frame decodes without a malformed-packet or error-level note.
    const std::string verbose = run("'" + tshark + "' -r " + path + " -V 2>&1");
    EXPECT_NE(verbose.find("Inter-Asterisk eXchange v2"), std::string::npos);
    EXPECT_EQ(verbose.find("Malformed"), std::string::npos) << verbose;
    EXPECT_EQ(verbose.find("[Severity level: Error]"), std::string::npos) << verbose;

    // And each reads as what we meant: same call numbers, sequence numbers, type and subclass.
    const std::string fields = run("'" + tshark + "' -r " + path
                                   + " -T fields -E separator=, -e iax2.src_call -e iax2.dst_call -e iax2.oseqno"
                                     " -e iax2.iseqno -e iax2.type -e iax2.iax.subclass -e iax2.control.subclass"
                                     " -e iax2.dtmf.subclass 2>/dev/null");
    std::istringstream lines(fields);
    std::string line;
    std::size_t index = 0;
    while (std::getline(lines, line)) {
        // The dissector leaves out a source call number of 0 (our call-token replies, sent outside any call).
        if (!line.empty() && line[0] == ',')
            line = "0" + line;
        ASSERT_LT(index, s.wire.size()) << line;
        const auto f = iax2::decodeFullFrame(s.wire[index].bytes.data(), s.wire[index].bytes.size());
        ASSERT_TRUE(f);
        std::string subclass;
        if (f->type == iax2::frametype::Iax)
            subclass = std::to_string(f->subclass) + ",,";
        else if (f->type == iax2::frametype::Control)
            // The dissector shows -1 as its octet.
            subclass = "," + std::to_string(f->subclass == iax2::kSubclassMinusOne ? 0xffu : f->subclass) + ",";
        else if (f->type == iax2::frametype::DtmfEnd)
            subclass = ",," + std::string(1, static_cast<char>(f->subclass));
        const std::string expected = std::to_string(f->sourceCall) + "," + std::to_string(f->destCall) + ","
                                     + std::to_string(f->oseqno) + "," + std::to_string(f->iseqno) + ","
                                     + std::to_string(f->type) + "," + subclass;
        EXPECT_EQ(line, expected) << "frame " << index + 1;
        ++index;
    }
    EXPECT_EQ(index, s.wire.size());

    if (const char *keep = std::getenv("ONDAVOX_KEEP_PCAP")) {
        run(std::string("cp ") + path + " '" + keep + "'");
    }
    std::remove(path.c_str());
    ::rmdir(dir);
}
