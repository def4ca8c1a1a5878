// The engine through its C interface against the devserver's IAX2 side on
// loopback: real sockets, real threads, the program's own calls.
#include "iaxclient.h"

#include "frame.h"
#include "iax2_constants.h"
#include "iax_server.h"
#include "ie.h"
#include "test_backend.h"
#include "udp_socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <dirent.h>
#include <mutex>
#include <memory>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<iaxc_event> events;

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.clear();
    }
    std::vector<int> states()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<int> out;
        for (const auto &e : events)
            if (e.type == IAXC_EVENT_STATE)
                out.push_back(e.ev.call.state);
        return out;
    }
    // Waits until the predicate over the events holds.
    template <typename Pred>
    bool waitFor(Pred pred, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return pred(events); });
    }
    bool waitForState(int state, std::chrono::milliseconds timeout = 10s)
    {
        return waitFor(
            [state](const std::vector<iaxc_event> &ev) {
                for (const auto &e : ev)
                    if (e.type == IAXC_EVENT_STATE && e.ev.call.state == state)
                        return true;
                return false;
            },
            timeout);
    }
    bool waitForFreeLine(std::chrono::milliseconds timeout = 10s)
    {
        return waitFor(
            [](const std::vector<iaxc_event> &ev) {
                for (const auto &e : ev)
                    if (e.type == IAXC_EVENT_STATE && !(e.ev.call.state & IAXC_CALL_STATE_ACTIVE))
                        return true;
                return false;
            },
            timeout);
    }
    int registrationReply(int id, std::chrono::milliseconds timeout = 10s)
    {
        int reply = 0;
        waitFor(
            [&](const std::vector<iaxc_event> &ev) {
                for (const auto &e : ev)
                    if (e.type == IAXC_EVENT_REGISTRATION && e.ev.reg.id == id)
                        return (reply = e.ev.reg.reply) != 0;
                return false;
            },
            timeout);
        return reply;
    }
};

Recorder recorder;

int onEvent(iaxc_event e)
{
    {
        std::lock_guard<std::mutex> lock(recorder.mutex);
        recorder.events.push_back(e);
    }
    recorder.changed.notify_all();
    return 0;
}

int threadCount()
{
    int n = 0;
    if (DIR *d = ::opendir("/proc/self/task")) {
        while (const dirent *e = ::readdir(d))
            n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

// Whether a library whose file name holds name is mapped into this process.
bool mapped(const std::string &name)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find(name) != std::string::npos)
            return true;
    return false;
}

class EngineLoopback : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        backend = new MemoryBackend;
        backend->addAccount(1, "alice", "wonder:l@nd");
        devserver::IaxServerOptions options;
        options.address = "127.0.0.1";
        options.port = 0;
        server = new devserver::IaxServer(*backend, options);
        std::string error;
        ASSERT_TRUE(server->start(&error)) << error;
        host = "127.0.0.1:" + std::to_string(server->port());

        const auto initialized = std::chrono::steady_clock::now();
        ASSERT_EQ(iaxc_initialize(1), 0);
        // A starting program pays nothing for the sound system or for
        // cryptography: PortAudio, ALSA and JACK come in when the cards are
        // listed, which waits a second unless something needs them (unless
        // this thread was held up past that second), libcrypto with the
        // first digest.
        const bool soundLoadedAtOnce = mapped("libportaudio");
        if (std::chrono::steady_clock::now() - initialized < 500ms)
            EXPECT_FALSE(soundLoadedAtOnce);
        EXPECT_FALSE(mapped("libcrypto.so"));
        iaxc_set_formats(IAXC_FORMAT_GSM, IAXC_FORMAT_GSM);
        iaxc_set_silence_threshold(-99.0f);
        iaxc_set_event_callback(onEvent);
        const int before = threadCount();
        iaxc_start_processing_thread();
        iaxc_start_processing_thread(); // asked twice, runs once
        EXPECT_EQ(threadCount(), before + 1);
    }
    static void TearDownTestSuite()
    {
        iaxc_shutdown();
        delete server;
        delete backend;
    }
    void SetUp() override { recorder.clear(); }
    void TearDown() override
    {
        // Leave the line free, and its last report delivered, for the next test.
        const auto states = recorder.states();
        if (!states.empty() && (states.back() & IAXC_CALL_STATE_ACTIVE)) {
            recorder.clear();
            iaxc_dump_call();
            EXPECT_TRUE(recorder.waitForFreeLine());
        }
    }
    std::string dial(const std::string &number) const { return "alice:wonder:l@nd@" + host + "/" + number; }
    MemoryBackend::CallRecord lastRecord() const
    {
        const auto records = backend->records();
        return records.empty() ? MemoryBackend::CallRecord{} : records.back();
    }

    static MemoryBackend *backend;
    static devserver::IaxServer *server;
    static std::string host;
};

MemoryBackend *EngineLoopback::backend = nullptr;
devserver::IaxServer *EngineLoopback::server = nullptr;
std::string EngineLoopback::host;

} // namespace

TEST_F(EngineLoopback, RegistrationEventSaysWhetherTheCredentialsWereRight)
{
    const int good = iaxc_register("alice", "wonder:l@nd", host.c_str());
    EXPECT_NE(good, 0);
    EXPECT_EQ(recorder.registrationReply(good), IAXC_REGISTRATION_REPLY_ACK);

    const int bad = iaxc_register("alice", "guess", host.c_str());
    EXPECT_NE(bad, 0);
    EXPECT_NE(bad, good);
    EXPECT_EQ(recorder.registrationReply(bad), IAXC_REGISTRATION_REPLY_REJ);

    EXPECT_TRUE(server->registeredAddress("alice"));
    EXPECT_EQ(iaxc_unregister(good), 0);
    EXPECT_EQ(iaxc_unregister(bad), 0);
    // Logging out releases the registration: the server forgets the address.
    const auto released = std::chrono::steady_clock::now() + 5s;
    while (server->registeredAddress("alice") && std::chrono::steady_clock::now() < released)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(server->registeredAddress("alice"));
    EXPECT_EQ(iaxc_register("alice", "x", ""), 0); // no host at all
    EXPECT_EQ(iaxc_register(nullptr, "x", host.c_str()), 0);
}

TEST_F(EngineLoopback, EchoTestAnswersTakesDtmfAndEndsOnOurHangup)
{
    ASSERT_EQ(iaxc_call(dial("999").c_str()), 0);
    ASSERT_TRUE(recorder.waitForState(0x16));
    iaxc_send_dtmf('1');
    iaxc_send_dtmf('#');
    iaxc_send_dtmf('7');
    for (int i = 0; i < 100 && lastRecord().dtmf.size() < 3; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(lastRecord().dtmf, "1#7");
    EXPECT_EQ(lastRecord().number, "999");

    EXPECT_EQ(iaxc_call_is_encrypted(), 0) << "this server does not encrypt";
    iaxc_dump_call();
    ASSERT_TRUE(recorder.waitForFreeLine());
    EXPECT_EQ(recorder.states(), (std::vector<int>{0x06, 0x16, 0x00}));
    for (int i = 0; i < 100 && lastRecord().end == 0; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_NE(lastRecord().end, 0);
    EXPECT_NE(lastRecord().answer, 0);
}

TEST_F(EngineLoopback, ACallToAServerThatRequiresEncryptionIsEncryptedUntilTheLineIsFree)
{
    MemoryBackend encryptingBackend;
    encryptingBackend.addAccount(1, "alice", "wonder:l@nd");
    devserver::IaxServerOptions options;
    options.address = "127.0.0.1";
    options.port = 0;
    options.core.encryption = devserver::EncryptionMode::Require;
    devserver::IaxServer encrypting(encryptingBackend, options);
    std::string error;
    ASSERT_TRUE(encrypting.start(&error)) << error;
    const std::string where = "127.0.0.1:" + std::to_string(encrypting.port());

    EXPECT_EQ(iaxc_call_is_encrypted(), 0) << "no call yet";
    ASSERT_EQ(iaxc_call(("alice:wonder:l@nd@" + where + "/999").c_str()), 0);
    ASSERT_TRUE(recorder.waitForState(0x16));
    EXPECT_EQ(iaxc_call_is_encrypted(), 1);
    iaxc_send_dtmf('4');
    iaxc_send_dtmf('2');
    for (int i = 0; i < 100 && (encryptingBackend.records().empty() || encryptingBackend.records()[0].dtmf.size() < 2); ++i)
        std::this_thread::sleep_for(20ms);
    ASSERT_EQ(encryptingBackend.records().size(), 1u);
    EXPECT_EQ(encryptingBackend.records()[0].dtmf, "42");
    iaxc_dump_call();
    ASSERT_TRUE(recorder.waitForFreeLine());
    EXPECT_EQ(iaxc_call_is_encrypted(), 0);
    for (int i = 0; i < 100 && encryptingBackend.records()[0].end == 0; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_NE(encryptingBackend.records()[0].end, 0) << "the server heard our hang-up";
}

TEST_F(EngineLoopback, InternationalNumberRingsThenAnswers)
{
    ASSERT_EQ(iaxc_call(dial("004930123456").c_str()), 0);
    ASSERT_TRUE(recorder.waitForState(0x16, 8s));
    EXPECT_EQ(recorder.states(), (std::vector<int>{0x06, 0x0E, 0x16}));
}

TEST_F(EngineLoopback, ServerHangsUp)
{
    ASSERT_EQ(iaxc_call(dial("0015550103").c_str()), 0);
    ASSERT_TRUE(recorder.waitForFreeLine(10s));
    EXPECT_EQ(recorder.states(), (std::vector<int>{0x06, 0x16, 0x00}));
}

TEST_F(EngineLoopback, BusyAndCongestionClearTheActiveBit)
{
    for (const char *number : {"0015550100", "0015550102"}) {
        recorder.clear();
        ASSERT_EQ(iaxc_call(dial(number).c_str()), 0);
        ASSERT_TRUE(recorder.waitForFreeLine()) << number;
        const auto states = recorder.states();
        ASSERT_EQ(states.size(), 2u) << number;
        EXPECT_EQ(states[0], 0x06);
        EXPECT_EQ(states[1] & IAXC_CALL_STATE_ACTIVE, 0);
    }
}

TEST_F(EngineLoopback, NoAnswerRingsUntilWeHangUp)
{
    ASSERT_EQ(iaxc_call(dial("0015550101").c_str()), 0);
    ASSERT_TRUE(recorder.waitForState(0x0E));
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(recorder.states(), (std::vector<int>{0x06, 0x0E}));
    // A second call while the line is taken changes nothing.
    EXPECT_NE(iaxc_call(dial("999").c_str()), 0);
    iaxc_dump_call();
    ASSERT_TRUE(recorder.waitForFreeLine());
    EXPECT_EQ(recorder.states(), (std::vector<int>{0x06, 0x0E, 0x00}));
}

TEST_F(EngineLoopback, WrongPasswordOnACallEndsIt)
{
    ASSERT_EQ(iaxc_call(("alice:nope@" + host + "/999").c_str()), 0);
    ASSERT_TRUE(recorder.waitForFreeLine());
    EXPECT_EQ(recorder.states(), (std::vector<int>{0x06, 0x00}));
}

TEST_F(EngineLoopback, HangupWithoutACallIsHarmless)
{
    iaxc_dump_call();
    iaxc_send_dtmf('5');
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(recorder.states().empty());
}

TEST_F(EngineLoopback, AnotherInitialiseAfterLogoutAndAfterShutdown)
{
    // Logout builds a new main window, which initialises again.
    const int id = iaxc_register("alice", "wonder:l@nd", host.c_str());
    ASSERT_EQ(recorder.registrationReply(id), IAXC_REGISTRATION_REPLY_ACK);
    iaxc_unregister(id);
    EXPECT_EQ(iaxc_initialize(1), 0);
    iaxc_set_formats(IAXC_FORMAT_GSM, IAXC_FORMAT_GSM);
    iaxc_set_event_callback(onEvent);
    const int threads = threadCount();
    iaxc_start_processing_thread();
    EXPECT_EQ(threadCount(), threads);
    const int again = iaxc_register("alice", "wonder:l@nd", host.c_str());
    EXPECT_EQ(recorder.registrationReply(again), IAXC_REGISTRATION_REPLY_ACK);
    EXPECT_TRUE(server->registeredAddress("alice"));

    // A full shutdown, then a fresh start. The server forgets us at once:
    // shutdown waits for its REGREL to be taken.
    iaxc_shutdown();
    EXPECT_FALSE(server->registeredAddress("alice"));
    ASSERT_EQ(iaxc_initialize(1), 0);
    iaxc_set_event_callback(onEvent);
    iaxc_start_processing_thread();
    recorder.clear();
    const int fresh = iaxc_register("alice", "wonder:l@nd", host.c_str());
    EXPECT_EQ(recorder.registrationReply(fresh), IAXC_REGISTRATION_REPLY_ACK);
    ASSERT_EQ(iaxc_call(dial("999").c_str()), 0);
    EXPECT_TRUE(recorder.waitForState(0x16));
    iaxc_dump_call();
    EXPECT_TRUE(recorder.waitForFreeLine());
}

TEST_F(EngineLoopback, HostNamesAreResolvedWithoutBlockingTheCaller)
{
    const auto start = std::chrono::steady_clock::now();
    const int id = iaxc_register("alice", "wonder:l@nd", ("localhost:" + std::to_string(server->port())).c_str());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_EQ(recorder.registrationReply(id), IAXC_REGISTRATION_REPLY_ACK);
    iaxc_unregister(id);
}

TEST_F(EngineLoopback, BuiltInDevicesAreAlwaysThereAndChosenWithoutASoundCardOrFiles)
{
    iaxc_audio_device *devices = nullptr;
    int count = -1, input = -1, output = -1, ring = -1;
    iaxc_audio_devices_get(&devices, &count, &input, &output, &ring);
    // Asking for the list has brought the sound system in, whenever that was.
    EXPECT_TRUE(mapped("libportaudio"));
    ASSERT_GE(count, 2);
    ASSERT_NE(devices, nullptr);
    const iaxc_audio_device *silent = nullptr, *discarding = nullptr;
    const iaxc_audio_device *firstInput = nullptr, *firstOutput = nullptr;
    for (int i = 0; i < count; ++i) {
        if (devices[i].devID == 0)
            silent = &devices[i];
        if (devices[i].devID == 1)
            discarding = &devices[i];
        if (!firstInput && (devices[i].capabilities & IAXC_AD_INPUT))
            firstInput = &devices[i];
        if (!firstOutput && (devices[i].capabilities & IAXC_AD_OUTPUT))
            firstOutput = &devices[i];
    }
    ASSERT_TRUE(silent && discarding);
    EXPECT_EQ(silent->capabilities & (IAXC_AD_INPUT | IAXC_AD_OUTPUT), IAXC_AD_INPUT);
    EXPECT_EQ(discarding->capabilities & (IAXC_AD_INPUT | IAXC_AD_OUTPUT), IAXC_AD_OUTPUT);
    // A chooser that starts on the first device of each kind starts on the
    // devices in use.
    EXPECT_EQ(firstInput->devID, input);
    EXPECT_EQ(firstOutput->devID, output);
    bool soundCardDefaultIn = false, soundCardDefaultOut = false;
    for (int i = 0; i < count; ++i) {
        EXPECT_NE(devices[i].name, nullptr);
        soundCardDefaultIn |= devices[i].devID >= 100 && (devices[i].capabilities & IAXC_AD_INPUT_DEFAULT);
        soundCardDefaultOut |= devices[i].devID >= 100 && (devices[i].capabilities & IAXC_AD_OUTPUT_DEFAULT);
    }
    if (!soundCardDefaultIn)
        EXPECT_EQ(input, 0);
    if (!soundCardDefaultOut)
        EXPECT_EQ(output, 1);

    // An echo call on the built-in devices works like any other.
    EXPECT_EQ(iaxc_audio_devices_set(0, 1, 1), 0);
    ASSERT_EQ(iaxc_call(dial("999").c_str()), 0);
    ASSERT_TRUE(recorder.waitForState(0x16));
    std::this_thread::sleep_for(300ms);
    iaxc_dump_call();
    ASSERT_TRUE(recorder.waitForFreeLine());
}

TEST_F(EngineLoopback, SilenceThresholdKeepsASilentMicrophoneOffTheNetworkUnlessMinus99)
{
    auto remotePackets = [] {
        std::lock_guard<std::mutex> lock(recorder.mutex);
        int packets = -1;
        for (const auto &e : recorder.events)
            if (e.type == IAXC_EVENT_NETSTAT)
                packets = e.ev.netstats.remote.packets;
        return packets;
    };
    auto netstats = [] {
        std::lock_guard<std::mutex> lock(recorder.mutex);
        return std::count_if(recorder.events.begin(), recorder.events.end(),
                             [](const iaxc_event &e) { return e.type == IAXC_EVENT_NETSTAT; });
    };
    EXPECT_EQ(iaxc_audio_devices_set(0, 1, 1), 0); // the silent microphone
    iaxc_set_silence_threshold(-40.0f);
    ASSERT_EQ(iaxc_call(dial("0049301234").c_str()), 0); // any answered number echoes
    ASSERT_TRUE(recorder.waitForState(0x16, 8s));
    for (int i = 0; i < 100 && netstats() < 2; ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_GE(netstats(), 2);
    EXPECT_EQ(remotePackets(), 0) << "digital silence under -40 dB was sent";

    iaxc_set_silence_threshold(-99.0f);
    const auto before = netstats();
    for (int i = 0; i < 100 && netstats() < before + 2; ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_GT(remotePackets(), 20) << "-99 sends everything, even silence";
}

TEST_F(EngineLoopback, AFloodOfForgedCallsOnTheSocketDelaysNeitherRegistrationNorACall)
{
    // The server tells us where the engine listens once it has registered.
    const int id = iaxc_register("alice", "wonder:l@nd", host.c_str());
    ASSERT_EQ(recorder.registrationReply(id), IAXC_REGISTRATION_REPLY_ACK);
    const auto engine = server->registeredAddress("alice");
    ASSERT_TRUE(engine);

    // 20,000 NEWs from 50 sockets (50 source ports), as fast as loopback takes them.
    std::atomic<bool> flooding{true};
    std::atomic<int> sent{0};
    std::thread flood([&] {
        std::vector<std::unique_ptr<iax2net::UdpSocket>> sockets;
        for (int i = 0; i < 50; ++i) {
            auto socket = std::make_unique<iax2net::UdpSocket>();
            std::string error;
            if (socket->open("127.0.0.1", 0, &error))
                sockets.push_back(std::move(socket));
        }
        iax2::FullFrame f;
        f.type = iax2::frametype::Iax;
        f.subclass = iax2::iaxcmd::New;
        f.payload = iax2::IeBuilder().u16(iax2::ie::Version, 2).text(iax2::ie::CalledNumber, "alice").take();
        for (int i = 0; i < 20000 && !sockets.empty(); ++i) {
            f.sourceCall = static_cast<std::uint16_t>(1 + i % 32767);
            sockets[static_cast<std::size_t>(i) % sockets.size()]->sendTo(*engine, iax2::encodeFullFrame(f));
            ++sent;
            if (i % 500 == 499)
                std::this_thread::sleep_for(1ms); // let the kernel's queue drain now and then
        }
        flooding = false;
    });

    // Meanwhile: a second registration, and a call that rings two seconds, then answers.
    recorder.clear();
    const auto start = std::chrono::steady_clock::now();
    const int again = iaxc_register("alice", "wonder:l@nd", host.c_str());
    ASSERT_EQ(iaxc_call(dial("004930123456").c_str()), 0);
    EXPECT_EQ(recorder.registrationReply(again, 5s), IAXC_REGISTRATION_REPLY_ACK);
    EXPECT_TRUE(recorder.waitForState(0x16, 5s));
    const auto took = std::chrono::steady_clock::now() - start;
    flood.join();
    EXPECT_EQ(sent.load(), 20000);
    // Two seconds of ringing, and little more than that.
    EXPECT_LT(took, 3500ms);
    iaxc_dump_call();
    EXPECT_TRUE(recorder.waitForFreeLine());
    iaxc_unregister(id);
    iaxc_unregister(again);
}
