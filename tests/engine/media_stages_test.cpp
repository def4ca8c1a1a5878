// The voice path's stages alone: codec, jitter buffer, concealment,
// resampler, WAV files, send path, voice clock, receiver reports, and the
// session's fallback to the built-in devices. Time is passed in where a
// stage takes it, so nothing here waits on the clock but the session.
#include "audio_analysis.h"
#include "device_registry.h"
#include "gsm_codec.h"
#include "iax2_constants.h"
#include "jitter_buffer.h"
#include "media_session.h"
#include "portaudio_device.h"
#include "receive_path.h"
#include "receiver_report.h"
#include "resampler.h"
#include "send_path.h"
#include "wav_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <pthread.h>
#include <random>
#include <sched.h>
#include <thread>
#include <unistd.h>

using namespace media;

namespace {

std::vector<std::int16_t> gsmRoundTrip(const std::vector<std::int16_t> &pcm)
{
    GsmEncoder encoder;
    GsmDecoder decoder;
    std::vector<std::int16_t> out;
    for (std::size_t i = 0; i + kFrameSamples <= pcm.size(); i += kFrameSamples) {
        std::int16_t in[kFrameSamples];
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(i), kFrameSamples, in);
        std::uint8_t bytes[kGsmFrameBytes];
        encoder.encode(in, bytes);
        std::int16_t decoded[kFrameSamples];
        EXPECT_TRUE(decoder.decode(bytes, sizeof bytes, decoded));
        out.insert(out.end(), std::begin(decoded), std::end(decoded));
    }
    return out;
}

JitterBuffer::Bytes frameBytes(std::uint32_t ts)
{
    return {static_cast<std::uint8_t>(ts / 20), static_cast<std::uint8_t>(ts / 20 >> 8)};
}

std::uint32_t tsOf(const JitterBuffer::Bytes &b)
{
    return (std::uint32_t(b.at(0)) | std::uint32_t(b.at(1)) << 8) * 20;
}

// Drives a jitter buffer like a network and a sound card would: frames sent
// every 20 ms of the sender's clock (scaled by drift), arriving after a
// transit of base + extra(i), pulled every 20 ms of ours.
struct Run {
    std::vector<std::uint32_t> played;
    std::uint64_t concealed = 0;
    std::vector<std::uint32_t> delays;
};

template <typename Arrive>
Run drive(JitterBuffer &jb, int frames, double senderRate, Arrive extraDelayOrDrop)
{
    std::multimap<std::uint64_t, std::uint32_t> network; // arrival time -> timestamp
    for (int i = 0; i < frames; ++i) {
        const std::uint32_t ts = static_cast<std::uint32_t>(1000 + 20 * i);
        const double sentAt = 5000 + 20.0 * i / senderRate;
        for (int extra : extraDelayOrDrop(i))
            network.emplace(static_cast<std::uint64_t>(sentAt + 10 + extra), ts);
    }
    Run run;
    // Until the last frame has played; the gaps after it are not the stream's.
    for (std::uint64_t now = 4993; !network.empty() || jb.buffered() > 0; now += 20) {
        while (!network.empty() && network.begin()->first <= now) {
            jb.put(network.begin()->second, frameBytes(network.begin()->second), network.begin()->first);
            network.erase(network.begin());
        }
        auto out = jb.get(now);
        if (out.kind == JitterBuffer::Output::Kind::Frame) {
            run.played.push_back(tsOf(out.frame));
            run.delays.push_back(jb.delayMs());
        } else if (out.kind == JitterBuffer::Output::Kind::Conceal) {
            ++run.concealed;
        }
    }
    return run;
}

bool rising(const std::vector<std::uint32_t> &v)
{
    return std::adjacent_find(v.begin(), v.end(), std::greater_equal<>()) == v.end();
}

} // namespace

TEST(Gsm, RoundTripKeepsTheVoiceAndRejectsWhatIsNotGsm)
{
    const auto speech = audiotest::speechLike(2.0, 3);
    const auto decoded = gsmRoundTrip(speech);
    ASSERT_EQ(decoded.size(), speech.size());
    const auto likeness = audiotest::compare(speech, decoded, 0);
    EXPECT_GT(likeness.whole, 0.9);

    GsmDecoder decoder;
    std::int16_t pcm[kFrameSamples];
    std::uint8_t frame[kGsmFrameBytes] = {};
    EXPECT_FALSE(decoder.decode(frame, sizeof frame, pcm)); // no 0xD signature
    frame[0] = 0xD0;
    EXPECT_TRUE(decoder.decode(frame, sizeof frame, pcm));
    EXPECT_FALSE(decoder.decode(frame, 32, pcm));
    EXPECT_FALSE(decoder.decode(nullptr, 33, pcm));
    EXPECT_TRUE(std::all_of(std::begin(pcm), std::end(pcm), [](std::int16_t s) { return s == 0; }));
}

TEST(JitterBuffer, SteadyStreamPlaysEveryFrameInOrderAfterTheMinimumDelay)
{
    JitterBuffer jb;
    const auto run = drive(jb, 200, 1.0, [](int) { return std::vector<int>{0}; });
    ASSERT_EQ(run.played.size(), 200u);
    EXPECT_TRUE(rising(run.played));
    EXPECT_EQ(run.concealed, 0u);
    const std::uint32_t floor = JitterBufferOptions{}.minDelayMs;
    EXPECT_GE(run.delays.back(), floor);
    EXPECT_LT(run.delays.back(), floor + 20);
    const auto report = jb.report();
    EXPECT_EQ(report.packets, 200u);
    EXPECT_EQ(report.lossCount, 0u);
    EXPECT_EQ(report.outOfOrder, 0u);
}

TEST(JitterBuffer, ReorderedFramesArePutBackInOrder)
{
    JitterBuffer jb;
    // Every fourth frame is held back 25 ms, behind its successor.
    const auto run = drive(jb, 200, 1.0, [](int i) { return std::vector<int>{i % 4 == 1 ? 25 : 0}; });
    EXPECT_GE(run.played.size(), 196u); // the first few late ones teach it the spread
    EXPECT_TRUE(rising(run.played));
    EXPECT_GT(jb.report().outOfOrder, 40u);
    EXPECT_LE(run.concealed, 3u); // while the buffer learns the spread
}

TEST(JitterBuffer, LostFramesAreConcealedAndCounted)
{
    JitterBuffer jb;
    const auto run = drive(jb, 200, 1.0, [](int i) { return i % 10 == 5 ? std::vector<int>{} : std::vector<int>{0}; });
    EXPECT_EQ(run.played.size(), 180u);
    EXPECT_EQ(run.concealed, 20u);
    const auto report = jb.report();
    EXPECT_EQ(report.lossCount, 20u);
    EXPECT_EQ(report.lossPercent, 10u);
}

TEST(JitterBuffer, DuplicatesPlayOnceAndLateFramesAreDropped)
{
    JitterBuffer jb;
    const auto dup = drive(jb, 100, 1.0, [](int) { return std::vector<int>{0, 3}; });
    EXPECT_EQ(dup.played.size(), 100u);
    EXPECT_TRUE(rising(dup.played));
    EXPECT_EQ(jb.report().packets, 200u);
    EXPECT_EQ(jb.report().lossCount, 0u);

    JitterBuffer late;
    // Frame 50 comes half a second late: by then its turn has passed.
    const auto run = drive(late, 100, 1.0, [](int i) { return std::vector<int>{i == 50 ? 500 : 0}; });
    EXPECT_EQ(run.played.size(), 99u);
    EXPECT_EQ(late.playout().late, 1u);
    EXPECT_EQ(late.report().dropped, 1u);
}

TEST(JitterBuffer, AdaptsToJitterAndFollowsClockDrift)
{
    std::mt19937 random(5);
    std::uniform_int_distribution<int> jitter(0, 60);
    JitterBuffer jittery;
    const auto run = drive(jittery, 1500, 1.0, [&](int) { return std::vector<int>{jitter(random)}; });
    EXPECT_GE(jittery.targetMs(), 50u);
    EXPECT_LT(run.concealed, 1500u / 50); // under 2 % of the periods after learning the spread
    EXPECT_TRUE(rising(run.played));

    for (double rate : {1.01, 0.99}) {
        // One percent: 0.6 s of audio gained or lost over a minute.
        JitterBuffer drifting;
        const auto r = drive(drifting, 3000, rate, [](int) { return std::vector<int>{0}; });
        const auto &d = r.delays;
        const auto worst = *std::max_element(d.begin() + 100, d.end());
        EXPECT_LE(worst, 60u) << "rate " << rate;
        EXPECT_TRUE(rising(r.played)) << "rate " << rate;
        if (rate > 1)
            EXPECT_GE(drifting.playout().skipped, 20u);
        else
            EXPECT_GE(r.concealed, 20u);
        EXPECT_LE(drifting.playout().skipped + r.concealed, 45u) << "rate " << rate;
    }
}

TEST(JitterBuffer, ShrinksToItsFloorOnceTheNetworkIsClean)
{
    // Four seconds of up to 80 ms of jitter grow the buffer; then the
    // network is clean, and within seconds the delay is back at the floor
    // without a frame played out of turn or lost on the way down.
    std::mt19937 random(11);
    std::uniform_int_distribution<int> jitter(0, 80);
    JitterBuffer jb;
    const auto run = drive(jb, 1000, 1.0, [&](int i) { return std::vector<int>{i < 200 ? jitter(random) : 0}; });
    const std::uint32_t floor = JitterBufferOptions{}.minDelayMs;
    EXPECT_GE(*std::max_element(run.delays.begin(), run.delays.begin() + 200), 60u);
    EXPECT_GE(run.delays.back(), floor);
    EXPECT_LT(run.delays.back(), floor + 20);
    EXPECT_TRUE(rising(run.played));
    EXPECT_GE(run.played.size() + jb.playout().skipped, 995u); // every frame that came was played or given up
    EXPECT_LE(run.concealed, 10u);                           // while learning the jitter, not while shrinking
}

TEST(JitterBuffer, ResumesAfterTheSenderFallsSilentOrJumps)
{
    JitterBuffer jb;
    // 100 frames, a two-second pause in sending, then the timestamps leap ahead.
    const auto run = drive(jb, 300, 1.0, [](int i) { return (i >= 100 && i < 200) ? std::vector<int>{} : std::vector<int>{0}; });
    EXPECT_EQ(run.played.size(), 200u);
    EXPECT_LT(run.delays.back(), 60u);
}

TEST(Concealment, FadesTheLastFrameOutThenIsSilent)
{
    ReceivePath path;
    std::int16_t pcm[kFrameSamples];
    // Nothing yet: silence.
    path.pull(0, pcm);
    EXPECT_EQ(*std::max_element(std::begin(pcm), std::end(pcm)), 0);

    Concealer c;
    std::int16_t good[kFrameSamples];
    std::fill(std::begin(good), std::end(good), std::int16_t{10000});
    c.good(good);
    std::vector<int> peaks;
    for (int i = 0; i < 6; ++i) {
        c.conceal(pcm);
        peaks.push_back(*std::max_element(std::begin(pcm), std::end(pcm)));
    }
    EXPECT_EQ(peaks[0], 10000); // the first starts at full level
    EXPECT_TRUE(std::is_sorted(peaks.rbegin(), peaks.rend()));
    EXPECT_EQ(peaks[4], 0);
    EXPECT_EQ(peaks[5], 0);
}

TEST(ReceivePath, TakesWholeGsmFramesOnly)
{
    ReceivePath path;
    GsmEncoder encoder;
    std::int16_t pcm[kFrameSamples] = {};
    std::uint8_t frame[kGsmFrameBytes];
    encoder.encode(pcm, frame);
    const std::vector<std::uint8_t> one(frame, frame + kGsmFrameBytes);
    std::vector<std::uint8_t> two = one;
    two.insert(two.end(), one.begin(), one.end());
    EXPECT_TRUE(path.put(0, iax2::format::Gsm, two, 100));
    EXPECT_EQ(path.report().packets, 2u);
    EXPECT_FALSE(path.put(40, iax2::format::Gsm, std::vector<std::uint8_t>(frame, frame + 20), 120));
    EXPECT_FALSE(path.put(40, 4 /* mu-law */, std::vector<std::uint8_t>(160, 0xff), 120));
    EXPECT_FALSE(path.put(40, iax2::format::Gsm, {}, 120));
    EXPECT_EQ(path.report().packets, 2u);
}

TEST(ReceivePath, ComesBackToItsDelayAfterAStallCuttingOnlyInQuiet)
{
    // The whole machine stops for 47 ms: the frames sent meanwhile arrive
    // together when it resumes, and the speaker, restarted, asks for
    // periods on a new phase. The buffer grows to get over it, then comes
    // back: by whole periods, and in the quiet by what is left of one too,
    // which is cut out where nothing is heard. A loud stretch is never cut.
    for (const int level : {200, 8000}) {
        ReceivePath path;
        GsmEncoder encoder;
        // A tone: quiet enough to be room noise, or loud enough to be a voice.
        auto frame = [&encoder, level](std::uint32_t i) {
            std::int16_t pcm[kFrameSamples];
            for (std::size_t n = 0; n < kFrameSamples; ++n)
                pcm[n] = static_cast<std::int16_t>(
                    level * std::sin(2 * M_PI * 440.0 * double(i * kFrameSamples + n) / kSampleRate));
            std::uint8_t bytes[kGsmFrameBytes];
            encoder.encode(pcm, bytes);
            return std::vector<std::uint8_t>(bytes, bytes + kGsmFrameBytes);
        };
        // Frames are sent every 20 ms and take 10 ms to come, but none
        // arrives while the machine is stopped.
        const std::uint64_t stallAt = 15007, stallEnd = stallAt + 47;
        auto arrival = [&](std::uint32_t i) {
            const std::uint64_t at = 5010 + 20 * std::uint64_t(i);
            return at >= stallAt && at < stallEnd ? stallEnd : at;
        };
        std::uint32_t sent = 0;
        std::uint32_t before = 0, after = 0, end = 0;
        std::int16_t pcm[kFrameSamples];
        std::size_t spare = 0;
        std::uint64_t now = 4993;
        // A speaker with a queue of its own leaves out what it may and asks
        // for the next period that much sooner.
        for (int period = 0; period < 1500; ++period, now += 20 - spare * 1000 / kSampleRate) {
            if (now >= stallAt && now < stallEnd)
                now = stallEnd; // the speaker's periods go on from where it resumed
            for (; arrival(sent) <= now; ++sent)
                path.put(1000 + 20 * sent, iax2::format::Gsm, frame(sent), arrival(sent));
            path.pull(now, pcm, &spare);
            if (period == 490)
                before = path.delayMs();
            if (period == 520)
                after = path.delayMs();
        }
        end = path.delayMs();
        EXPECT_GE(after, before + 20) << "level " << level; // the stall was felt
        if (level < 1000) {
            EXPECT_GT(path.playout().trimmedMs, 0u);
            EXPECT_LE(end, JitterBufferOptions{}.minDelayMs + JitterBufferOptions{}.minTrimMs);
            EXPECT_LE(end, before + 2);
        } else {
            EXPECT_EQ(path.playout().trimmedMs, 0u);
            EXPECT_LE(end, before + 20);
        }
    }
}

TEST(Resampler, ConvertsRatesBothWaysWithoutChangingTheSound)
{
    const double pi = 3.14159265358979323846;
    std::vector<std::int16_t> wide;
    for (int i = 0; i < 48000; ++i)
        wide.push_back(static_cast<std::int16_t>(8000 * std::sin(2 * pi * 440 * i / 48000.0)));
    Resampler down(48000, 8000);
    std::vector<std::int16_t> narrow;
    for (std::size_t i = 0; i < wide.size(); i += 441) // odd block sizes, as a card delivers them
        down.process(wide.data() + i, std::min<std::size_t>(441, wide.size() - i), narrow);
    EXPECT_NEAR(double(narrow.size()), 8000.0, 40.0);
    std::vector<std::int16_t> ideal;
    for (int i = 0; i < 8000; ++i)
        ideal.push_back(static_cast<std::int16_t>(8000 * std::sin(2 * pi * 440 * i / 8000.0)));
    const auto match = audiotest::bestMatch(ideal, 400, 7000, narrow, -60, 60);
    EXPECT_GT(match.correlation, 0.99);

    Resampler up(8000, 44100);
    std::vector<std::int16_t> back;
    up.process(narrow.data(), narrow.size(), back);
    EXPECT_NEAR(double(back.size()), 44100.0, 700.0); // less the filter's delay

    Resampler same(8000, 8000);
    std::vector<std::int16_t> copy;
    same.process(ideal.data(), ideal.size(), copy);
    EXPECT_EQ(copy, ideal);
    EXPECT_THROW(Resampler(0, 8000), std::invalid_argument);
}

TEST(WavFile, WritesReadsMixesDownAndRefusesWhatItCannotRead)
{
    char dir[] = "/tmp/ondavox-wav-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/a.wav";
    std::vector<std::int16_t> samples = {0, 1, -1, 32767, -32768, 1234};
    {
        WavWriter w;
        ASSERT_TRUE(w.open(path, 8000, nullptr));
        ASSERT_TRUE(w.append(samples.data(), samples.size()));
    }
    PcmAudio audio;
    std::string error;
    ASSERT_TRUE(readWav(path, &audio, &error)) << error;
    EXPECT_EQ(audio.sampleRate, 8000);
    EXPECT_EQ(audio.samples, samples);

    auto writeRaw = [&](const std::vector<std::uint8_t> &bytes) {
        FILE *f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    };
    auto header = [](std::uint16_t channels, std::uint16_t bits, std::uint32_t dataBytes) {
        std::vector<std::uint8_t> h = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                                       1, 0, std::uint8_t(channels), 0, 0x80, 0x3e, 0, 0, 0, 0, 0, 0, 4, 0,
                                       std::uint8_t(bits), 0, 'd', 'a', 't', 'a', std::uint8_t(dataBytes), 0, 0, 0};
        return h;
    };
    auto stereo = header(2, 16, 8);
    for (std::uint8_t b : {100, 0, 200, 0, 0xff, 0x7f, 1, 0x80}) // (100,200) and (32767,-32767)
        stereo.push_back(b);
    writeRaw(stereo);
    ASSERT_TRUE(readWav(path, &audio, &error)) << error;
    EXPECT_EQ(audio.samples, (std::vector<std::int16_t>{150, 0}));

    writeRaw(header(1, 8, 4));
    EXPECT_FALSE(readWav(path, &audio, &error));
    EXPECT_NE(error.find("16-bit"), std::string::npos);
    writeRaw({'R', 'I', 'F', 'F', 0, 0});
    EXPECT_FALSE(readWav(path, &audio, &error));
    writeRaw(header(1, 16, 200)); // says 200 bytes, holds none: an empty recording, not a crash
    EXPECT_TRUE(readWav(path, &audio, &error));
    EXPECT_TRUE(audio.samples.empty());
    EXPECT_FALSE(readWav(std::string(dir) + "/missing.wav", &audio, &error));

    WavWriter full;
    EXPECT_FALSE(full.open("/dev/full", 8000, &error));
    ::unlink(path.c_str());
    ::rmdir(dir);
}

TEST(SendPath, SilenceThresholdAndEncoding)
{
    SendPath path(Processing{false, false});
    std::int16_t quiet[kFrameSamples] = {};
    std::int16_t loud[kFrameSamples];
    for (std::size_t i = 0; i < kFrameSamples; ++i)
        loud[i] = static_cast<std::int16_t>(i % 20 < 10 ? 8000 : -8000);
    // -99: even digital silence is sent.
    auto f = path.process(quiet);
    EXPECT_FALSE(f.silent);
    EXPECT_EQ(f.levelDb, -99.0f);
    EXPECT_EQ(f.gsm[0] >> 4, 0xD);
    path.setSilenceThreshold(-40);
    EXPECT_TRUE(path.process(quiet).silent);
    f = path.process(loud);
    EXPECT_FALSE(f.silent);
    EXPECT_NEAR(f.levelDb, -12.2, 0.5);
    EXPECT_EQ(f.sequence, 2u); // silent periods count too: the clock keeps step
}

// The room: the speaker reaches the microphone 5 ms later at a third of its
// level. The far end talks throughout; the near end talks over it for two
// seconds once the canceller has learnt the room.
TEST(SendPath, EchoCancellerRemovesTheSpeakerButNotTheNearEnd)
{
    constexpr double kSeconds = 12;
    constexpr std::size_t kTalkFrom = 8 * 8000, kTalkTo = 10 * 8000;
    const auto farEnd = audiotest::speechLike(kSeconds, 11);
    const auto nearEnd = audiotest::speechLike(kSeconds, 5);
    for (bool noiseSuppress : {true, false}) {
        SendPath path(Processing{true, noiseSuppress});
        GsmDecoder decoder;
        std::vector<std::int16_t> sent;
        double echoIn[2] = {}, echoOut[2] = {}; // before the near end talks, and after
        const std::size_t periods = farEnd.size() / kFrameSamples;
        for (std::size_t p = 0; p < periods; ++p) {
            std::int16_t played[kFrameSamples];
            std::int16_t mic[kFrameSamples];
            for (std::size_t i = 0; i < kFrameSamples; ++i) {
                const std::size_t n = p * kFrameSamples + i;
                played[i] = farEnd[n];
                const int echo = n >= 40 ? farEnd[n - 40] / 3 : 0;
                const int near = n >= kTalkFrom && n < kTalkTo ? nearEnd[n] : 0;
                mic[i] = static_cast<std::int16_t>(std::clamp(echo + near, -32768, 32767));
            }
            path.played(played);
            auto f = path.process(mic);
            std::int16_t out[kFrameSamples];
            decoder.decode(f.gsm, sizeof f.gsm, out);
            sent.insert(sent.end(), std::begin(out), std::end(out));
            const std::size_t n = p * kFrameSamples;
            // After the filter has learnt the room; and right after the near
            // end stopped, with what the filter kept through the double talk.
            const int phase = n >= 4 * 8000 && n < kTalkFrom ? 0 : n >= kTalkTo ? 1 : -1;
            if (phase < 0)
                continue;
            for (std::size_t i = 0; i < kFrameSamples; ++i) {
                echoIn[phase] += double(mic[i]) * mic[i];
                echoOut[phase] += double(out[i]) * out[i];
            }
        }
        for (int phase : {0, 1}) {
            const double erleDb = 10 * std::log10(echoIn[phase] / std::max(echoOut[phase], 1.0));
            std::printf("echo return loss enhancement %s double talk%s: %.1f dB\n", phase ? "after" : "before",
                        noiseSuppress ? ", noise suppression on" : "", erleDb);
            EXPECT_GT(erleDb, 10.0) << "phase " << phase << ", noise suppression " << noiseSuppress;
        }
        // The near end over the far end: sent nearly as it was said.
        const std::vector<std::int16_t> said(nearEnd.begin() + kTalkFrom, nearEnd.begin() + kTalkTo);
        const std::vector<std::int16_t> heard(sent.begin() + kTalkFrom, sent.begin() + kTalkTo + 400);
        const auto likeness = audiotest::compare(said, heard, 200);
        double saidEnergy = 0, heardEnergy = 0;
        for (std::size_t i = 0; i < said.size(); ++i) {
            saidEnergy += double(said[i]) * said[i];
            const std::size_t j = i + static_cast<std::size_t>(likeness.lag);
            heardEnergy += double(heard[j]) * heard[j];
        }
        const double levelDb = 10 * std::log10(heardEnergy / saidEnergy);
        std::printf("near end during double talk: likeness %.3f (median window %.3f), level %+.1f dB; "
                    "filter frozen %.1f s\n",
                    likeness.whole, likeness.medianWindow, levelDb,
                    double(path.echoCanceller()->doubleTalkSamples()) / 8000);
        EXPECT_GT(likeness.medianWindow, 0.9);
        EXPECT_NEAR(levelDb, 0.0, 3.0);
    }
}

TEST(SendPath, NoiseSuppressorQuietensSteadyNoise)
{
    SendPath path(Processing{false, true});
    GsmDecoder decoder;
    std::mt19937 random(1);
    std::normal_distribution<double> noise(0.0, 300.0); // a fan, about -40 dB below full scale
    double inEnergy = 0, outEnergy = 0;
    for (int p = 0; p < 150; ++p) {
        std::int16_t mic[kFrameSamples];
        for (auto &s : mic)
            s = static_cast<std::int16_t>(noise(random));
        auto f = path.process(mic);
        std::int16_t out[kFrameSamples];
        decoder.decode(f.gsm, sizeof f.gsm, out);
        if (p >= 100) { // after it has learned the noise
            for (std::size_t i = 0; i < kFrameSamples; ++i) {
                inEnergy += double(mic[i]) * mic[i];
                outEnergy += double(out[i]) * out[i];
            }
        }
    }
    const double reductionDb = 10 * std::log10(inEnergy / std::max(outEnergy, 1.0));
    std::printf("noise reduction: %.1f dB\n", reductionDb);
    EXPECT_GT(reductionDb, 6.0);
}

TEST(VoiceClock, StepsTwentyMillisecondsAndResynchronisesAfterAStall)
{
    VoiceClock clock;
    EXPECT_EQ(clock.stamp(0, 1003), 1003u);
    EXPECT_EQ(clock.stamp(1, 1030), 1023u); // the audio clock, not the moment it was sent
    EXPECT_EQ(clock.stamp(2, 1041), 1043u);
    // A device that stalled for a second: back in step with the call.
    EXPECT_EQ(clock.stamp(3, 2100), 2100u);
    EXPECT_EQ(clock.stamp(4, 2125), 2120u);
    // A clock that ran backwards still never repeats a timestamp.
    EXPECT_EQ(clock.stamp(5, 1000), 2140u);
}

TEST(ReceiverReport, TravelsAsInformationElementsAndCountsLoss)
{
    iax2::ReceiverReport r{12, 7, 0x123456, 5000, 70000, 9, 4};
    iax2::IeBuilder ies;
    appendReceiverReport(ies, r);
    const auto list = iax2::IeList::parse(ies.bytes());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->u32(iax2::ie::RrLoss), (7u << 24) | 0x123456u);
    const auto back = readReceiverReport(*list);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->jitter, 12u);
    EXPECT_EQ(back->lossPercent, 7u);
    EXPECT_EQ(back->lossCount, 0x123456u);
    EXPECT_EQ(back->packets, 5000u);
    EXPECT_EQ(back->delay, 0xffffu); // 16 bits on the wire
    EXPECT_EQ(back->dropped, 9u);
    EXPECT_EQ(back->outOfOrder, 4u);
    EXPECT_FALSE(readReceiverReport(*iax2::IeList::parse(iax2::IeBuilder().u32(iax2::ie::RrJitter, 1).bytes())));

    iax2::ReceptionStats stats;
    for (std::uint32_t i = 0; i < 100; ++i)
        if (i % 4 != 0 || i == 0)
            stats.received(i * 20, 1000 + i * 20);
    stats.received(40, 5000); // a repeat
    const auto report = stats.report(30);
    EXPECT_EQ(report.lossCount, 24u);
    EXPECT_EQ(report.lossPercent, 24u);
    EXPECT_EQ(report.packets, 77u);
    EXPECT_EQ(report.delay, 30u);
}

TEST(MediaSession, FallsBackToTheBuiltInDevicesWhenFilesFail)
{
    ::setenv("ONDAVOX_AUDIO_IN_FILE", "/nonexistent/mic.wav", 1);
    ::setenv("ONDAVOX_AUDIO_OUT_FILE", "/dev/full", 1);
    auto shared = std::make_shared<DeviceRegistry>();
    shared->rebuild(false);
    const DeviceRegistry &registry = *shared;
    ::unsetenv("ONDAVOX_AUDIO_IN_FILE");
    ::unsetenv("ONDAVOX_AUDIO_OUT_FILE");
    ASSERT_EQ(registry.entries().size(), 4u);
    EXPECT_EQ(registry.defaultInput(), deviceid::FileMicrophone);
    EXPECT_EQ(registry.defaultOutput(), deviceid::FileSpeaker);

    std::mutex mutex;
    std::vector<std::string> notices;
    std::atomic<int> captured{0};
    MediaSession::Hooks hooks;
    hooks.captured = [&] { ++captured; };
    hooks.notice = [&](const std::string &text) {
        std::lock_guard<std::mutex> lock(mutex);
        notices.push_back(text);
    };
    MediaSession session(shared, SteadyClock::now(), hooks);
    session.start();
    EXPECT_EQ(session.input(), deviceid::SilentMicrophone);
    EXPECT_EQ(session.output(), deviceid::DiscardingSpeaker);
    for (int i = 0; i < 200 && captured < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(captured.load(), 3); // the silent microphone runs instead
    session.stop();
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[0].find("microphone"), std::string::npos);
    EXPECT_NE(notices[1].find("speaker"), std::string::npos);
    EXPECT_EQ(DeviceRegistry::soundCardId("ALSA", "USB Headset"), DeviceRegistry::soundCardId("ALSA", "USB Headset"));
    EXPECT_GE(DeviceRegistry::soundCardId("ALSA", "USB Headset"), deviceid::FirstSoundCard);
}

namespace {

// A speaker that works for a few periods and then is gone, as a headset pulled out mid-call.
class VanishingSpeaker : public AudioDevice {
public:
    std::string name() const override { return "Headset"; }
    bool canRecord() const override { return false; }
    bool canPlay() const override { return true; }
    std::unique_ptr<AudioStream> openCapture(CaptureHandler, SteadyClock::time_point, std::string *) override
    {
        return nullptr;
    }
    std::unique_ptr<AudioStream> openPlayback(PlaybackHandler handler, SteadyClock::time_point epoch,
                                              std::string *) override
    {
        return std::make_unique<PacedStream>(epoch, [handler, left = 5](std::uint64_t ms) mutable {
            std::int16_t pcm[kFrameSamples];
            handler(pcm, ms);
            return --left > 0;
        });
    }
};

} // namespace

// Voice threads must not queue behind a busy machine's other work: a
// device's ticks run in the real-time class wherever this process may use
// it, and stay ordinary when that is turned off.
TEST(PacedStream, TicksInTheRealtimeClassWherePermitted)
{
    auto policyOfTicks = [] {
        std::promise<int> policy;
        auto seen = policy.get_future();
        bool first = true;
        PacedStream stream(SteadyClock::now(), [&](std::uint64_t) {
            if (std::exchange(first, false))
                policy.set_value(sched_getscheduler(0));
            return true;
        });
        return seen.wait_for(std::chrono::seconds(5)) == std::future_status::ready ? seen.get() : -1;
    };
    const bool permitted = std::async(std::launch::async, [] {
                               sched_param param{};
                               param.sched_priority = 1;
                               return pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0;
                           }).get();
    ::unsetenv("ONDAVOX_REALTIME");
    EXPECT_EQ(policyOfTicks(), permitted ? SCHED_RR : SCHED_OTHER);

    ::setenv("ONDAVOX_REALTIME", "off", 1);
    EXPECT_EQ(policyOfTicks(), SCHED_OTHER);
    ::unsetenv("ONDAVOX_REALTIME");
}

TEST(MediaSession, ADeviceThatVanishesMidCallIsReplacedAndSwitchingWorks)
{
    auto registry = std::make_shared<DeviceRegistry>();
    registry->rebuild(false);
    const int headset = registry->add(deviceid::FirstSoundCard, std::make_shared<VanishingSpeaker>());
    std::atomic<int> notices{0};
    MediaSession::Hooks hooks;
    hooks.notice = [&](const std::string &) { ++notices; };
    MediaSession session(registry, SteadyClock::now(), hooks);
    EXPECT_FALSE(session.selectDevices(deviceid::SilentMicrophone, 4242)); // no such speaker: the default
    EXPECT_EQ(session.output(), deviceid::DiscardingSpeaker);
    EXPECT_FALSE(session.selectDevices(deviceid::DiscardingSpeaker, headset)); // cannot record
    EXPECT_EQ(session.input(), deviceid::SilentMicrophone);
    EXPECT_TRUE(session.selectDevices(deviceid::SilentMicrophone, headset));
    session.start();
    EXPECT_EQ(session.output(), headset);
    // The network thread looks now and then; the headset dies after five periods.
    for (int i = 0; i < 300 && session.output() == headset; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        session.checkDevices();
    }
    EXPECT_EQ(session.output(), deviceid::DiscardingSpeaker);
    EXPECT_EQ(notices.load(), 1);
    // Voice still flows into the replacement, and back onto the headset when asked.
    std::vector<std::uint8_t> frame(kGsmFrameBytes, 0);
    frame[0] = 0xD0;
    session.received(100, iax2::format::Gsm, frame, 5);
    EXPECT_EQ(session.report().packets, 1u);
    EXPECT_TRUE(session.selectDevices(deviceid::SilentMicrophone, headset));
    EXPECT_EQ(session.output(), headset);
    session.stop();
    EXPECT_FALSE(session.running());
}

TEST(SoundCards, ProbingLeavesStderrAlone)
{
    // Without a card ALSA and JACK write pages of complaints; none may reach the user.
    // ALSA's JACK plugin names its client after the program and warns, past
    // the library's error handlers, when that name is too long: probe under
    // the program's own short name, not this test's.
    char *const testName = program_invocation_short_name;
    program_invocation_short_name = const_cast<char *>("ondavox");
    char path[] = "/tmp/ondavox-stderr-XXXXXX";
    const int capture = ::mkstemp(path);
    ASSERT_GE(capture, 0);
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture, STDERR_FILENO);
    const auto cards = listSoundCards();
    std::fflush(stderr);
    program_invocation_short_name = testName;
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    const off_t written = ::lseek(capture, 0, SEEK_END);
    ::close(capture);
    ::unlink(path);
    EXPECT_EQ(written, 0);
    for (const auto &card : cards) {
        EXPECT_FALSE(card.device->name().empty());
        EXPECT_TRUE(card.device->canRecord() || card.device->canPlay());
    }
}
