// Measurements of the voice path, printed as a table:
//   delay     echo calls on loopback; the delay the engine adds, both sides
//             together, by cross-correlation of the speaker file with the
//             microphone file, and the jitter buffer's share of it
//   impaired  the same through 5 % loss and 30 ms jitter: frames lost or too
//             late after the jitter buffer, and the buffer's delay
//   jitter    the jitter buffer alone, a simulated minute of 5 % / 30 ms
//   cpu       CPU time per second of call of the engine's process, the echo
//             server in a process of its own, beside GSM coding alone
// "engine_bench all" runs them in turn.
#include "iaxclient.h"

#include "audio_analysis.h"
#include "gsm_codec.h"
#include "iax_server.h"
#include "jitter_buffer.h"
#include "test_backend.h"
#include "wav_file.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Events {
    std::mutex mutex;
    std::condition_variable changed;
    int state = 0;
    std::vector<iaxc_ev_netstats> stats;
};
Events events;

int onEvent(iaxc_event e)
{
    std::lock_guard<std::mutex> lock(events.mutex);
    if (e.type == IAXC_EVENT_STATE)
        events.state = e.ev.call.state;
    if (e.type == IAXC_EVENT_NETSTAT)
        events.stats.push_back(e.ev.netstats);
    events.changed.notify_all();
    return 0;
}

bool waitState(bool answered, std::chrono::seconds timeout)
{
    std::unique_lock<std::mutex> lock(events.mutex);
    return events.changed.wait_for(lock, timeout, [&] {
        return answered ? events.state == 0x16 : !(events.state & IAXC_CALL_STATE_ACTIVE);
    });
}

struct Cpu {
    double user = 0;
    double system = 0;
    double total() const { return user + system; }
};

Cpu cpuNow()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return {double(u.ru_utime.tv_sec) + double(u.ru_utime.tv_usec) / 1e6,
            double(u.ru_stime.tv_sec) + double(u.ru_stime.tv_usec) / 1e6};
}

double cpuSeconds()
{
    return cpuNow().total();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Files {
    std::string dir, mic, speaker;
    std::vector<std::int16_t> sent;
    explicit Files(double seconds)
    {
        char pattern[] = "/tmp/ondavox-bench-XXXXXX";
        dir = ::mkdtemp(pattern);
        mic = dir + "/mic.wav";
        speaker = dir + "/speaker.wav";
        sent = audiotest::speechLike(seconds, 9);
        media::WavWriter w;
        w.open(mic, 8000, nullptr);
        w.append(sent.data(), sent.size());
        w.close();
        ::setenv("ONDAVOX_AUDIO_IN_FILE", mic.c_str(), 1);
        ::setenv("ONDAVOX_AUDIO_OUT_FILE", speaker.c_str(), 1);
    }
    ~Files()
    {
        ::unlink(mic.c_str());
        ::unlink(speaker.c_str());
        ::rmdir(dir.c_str());
    }
};

void startEngine()
{
    iaxc_initialize(1);
    iaxc_set_formats(IAXC_FORMAT_GSM, IAXC_FORMAT_GSM);
    iaxc_set_silence_threshold(-99.0f);
    iaxc_set_event_callback(onEvent);
    iaxc_start_processing_thread();
}

struct CallResult {
    bool ok = false;
    audiotest::Likeness likeness;
    iaxc_ev_netstats last{};
};

// ONDAVOX_BENCH_SERVER="user:password@host:port" calls a running devserver
// (with its own --iax-loss/--iax-jitter) instead of the in-process echo.
std::string echoNumber(const std::string &inProcessHost)
{
    const char *external = std::getenv("ONDAVOX_BENCH_SERVER");
    return (external && *external ? std::string(external) : "bench:bench@" + inProcessHost) + "/999";
}

CallResult echoCall(const std::string &host, const Files &files, double seconds)
{
    CallResult r;
    {
        std::lock_guard<std::mutex> lock(events.mutex);
        events.stats.clear();
        events.state = 0;
    }
    iaxc_call(echoNumber(host).c_str());
    if (!waitState(true, 10s))
        return r;
    std::this_thread::sleep_for(std::chrono::milliseconds(int(seconds * 1000) + 1500));
    iaxc_dump_call();
    waitState(false, 5s);
    media::PcmAudio audio;
    if (!media::readWav(files.speaker, &audio, nullptr))
        return r;
    r.likeness = audiotest::compare(files.sent, audio.samples, 8000);
    std::lock_guard<std::mutex> lock(events.mutex);
    if (!events.stats.empty())
        r.last = events.stats.back();
    r.ok = true;
    return r;
}

struct InProcessServer {
    MemoryBackend backend;
    std::unique_ptr<devserver::IaxServer> server;
    std::string host;
    explicit InProcessServer(const devserver::Impairment &impairment)
    {
        backend.addAccount(1, "bench", "bench");
        devserver::IaxServerOptions o;
        o.port = 0;
        o.core.impairment = impairment;
        // Calls in the clear unless asked: ONDAVOX_BENCH_ENCRYPTED=1 encrypts them (AES-128).
        if (const char *encrypted = std::getenv("ONDAVOX_BENCH_ENCRYPTED"); encrypted && std::string(encrypted) == "1")
            o.core.encryption = devserver::EncryptionMode::Require;
        server = std::make_unique<devserver::IaxServer>(backend, o);
        std::string error;
        if (!server->start(&error))
            std::fprintf(stderr, "server: %s\n", error.c_str());
        host = "127.0.0.1:" + std::to_string(server->port());
    }
};

void benchDelay(int calls)
{
    Files files(4.0);
    InProcessServer server{devserver::Impairment{}};
    startEngine();
    std::vector<double> lags, buffer, likeness;
    for (int i = 0; i < calls; ++i) {
        const auto r = echoCall(server.host, files, 4.0);
        if (!r.ok)
            continue;
        lags.push_back(r.likeness.lag / 8.0);
        buffer.push_back(r.last.local.delay);
        likeness.push_back(r.likeness.medianWindow);
        std::printf("  call %d: file-to-file lag %.1f ms, jitter buffer %d ms, rtt %d ms, likeness %.3f\n", i + 1,
                    r.likeness.lag / 8.0, r.last.local.delay, r.last.rtt, r.likeness.medianWindow);
    }
    iaxc_shutdown();
    const double lag = median(lags);
    const double jb = median(buffer);
    std::printf("delay, no impairment, %d calls (medians):\n", calls);
    std::printf("  file microphone to file speaker through the echo: %.1f ms\n", lag);
    std::printf("  of which the receiving side's jitter buffer:      %.1f ms\n", jb);
    std::printf("  sending side (capture to datagram) and the rest:  %.1f ms\n", lag - jb);
    std::printf("  plus a real microphone's 20 ms of framing:        %.1f ms in total\n", lag + 20);
    std::printf("  median window likeness to the sent audio:         %.3f\n", median(likeness));
}

void benchImpaired(int calls)
{
    Files files(8.0);
    devserver::Impairment imp;
    imp.lossPercent = 5;
    imp.jitterMs = 30;
    InProcessServer server{imp};
    startEngine();
    std::vector<double> lostPct, latePct, buffer, likeness, lags;
    for (int i = 0; i < calls; ++i) {
        const auto r = echoCall(server.host, files, 8.0);
        if (!r.ok)
            continue;
        const auto &l = r.last.local;
        const double expected = l.packets + l.losscnt;
        lostPct.push_back(expected ? 100.0 * l.losscnt / expected : 0);
        latePct.push_back(expected ? 100.0 * l.dropped / expected : 0);
        buffer.push_back(l.delay);
        likeness.push_back(r.likeness.medianWindow);
        lags.push_back(r.likeness.lag / 8.0);
        std::printf("  call %d: lost %d, late %d of %.0f frames, jitter %d ms, buffer %d ms, lag %.1f ms, "
                    "likeness %.3f\n",
                    i + 1, l.losscnt, l.dropped, expected, l.jitter, l.delay, r.likeness.lag / 8.0,
                    r.likeness.medianWindow);
    }
    iaxc_shutdown();
    std::printf("5 %% loss and 30 ms jitter on the echo, %d calls (medians):\n", calls);
    std::printf("  lost on the network: %.1f %%, late after the jitter buffer: %.1f %%\n", median(lostPct),
                median(latePct));
    std::printf("  jitter buffer delay: %.1f ms; file-to-file lag %.1f ms; likeness %.3f\n", median(buffer),
                median(lags), median(likeness));
}

void benchJitterBuffer()
{
    // A minute of frames through a simulated 5 % loss and 0..30 ms jitter.
    std::mt19937 random(3);
    std::uniform_real_distribution<double> percent(0, 100);
    std::uniform_int_distribution<int> jitter(0, 30);
    media::JitterBuffer jb;
    std::multimap<std::uint64_t, std::uint32_t> network;
    const int frames = 3000;
    int sentLost = 0;
    for (int i = 0; i < frames; ++i) {
        if (percent(random) < 5) {
            ++sentLost;
            continue;
        }
        network.emplace(10000 + 20 * i + 5 + jitter(random), 20 * i);
    }
    std::vector<double> delays;
    for (std::uint64_t now = 10000; !network.empty() || jb.buffered(); now += 20) {
        while (!network.empty() && network.begin()->first <= now) {
            jb.put(network.begin()->second, {0}, network.begin()->first);
            network.erase(network.begin());
        }
        if (jb.get(now).kind == media::JitterBuffer::Output::Kind::Frame)
            delays.push_back(jb.delayMs());
    }
    const auto &p = jb.playout();
    std::printf("jitter buffer alone, 60 s at 5 %% loss / 0-30 ms jitter (simulated):\n");
    std::printf("  lost %d (%.1f %%), late %llu (%.2f %%), skipped %llu, concealed %llu periods\n", sentLost,
                100.0 * sentLost / frames, (unsigned long long)p.late, 100.0 * double(p.late) / frames,
                (unsigned long long)p.skipped, (unsigned long long)p.concealed);
    std::sort(delays.begin(), delays.end());
    std::printf("  buffer delay: median %.0f ms, 95th percentile %.0f ms; target %u ms\n", median(delays),
                delays.empty() ? 0 : delays[delays.size() * 95 / 100], jb.targetMs());

    // A clean minute that starts with two seconds of 0..80 ms jitter, as a
    // call's first moments can: where the delay settles once it is over.
    media::JitterBuffer clean;
    network.clear();
    for (int i = 0; i < frames; ++i)
        network.emplace(10000 + 20 * i + 5 + (i < 100 ? jitter(random) * 80 / 30 : 0), 20 * i);
    std::vector<double> settled;
    for (std::uint64_t now = 10000; !network.empty() || clean.buffered(); now += 20) {
        while (!network.empty() && network.begin()->first <= now) {
            clean.put(network.begin()->second, {0}, network.begin()->first);
            network.erase(network.begin());
        }
        if (clean.get(now).kind == media::JitterBuffer::Output::Kind::Frame && now >= 20000)
            settled.push_back(clean.delayMs());
    }
    std::printf("jitter buffer alone, a clean minute after 2 s of 0-80 ms jitter (simulated):\n");
    std::printf("  buffer delay after the first 10 s: median %.0f ms, most %.0f ms; late %llu, floor %u ms\n",
                median(settled), settled.empty() ? 0 : *std::max_element(settled.begin(), settled.end()),
                (unsigned long long)clean.playout().late, media::JitterBufferOptions{}.minDelayMs);
}

double codecCpuPerSecond(double seconds)
{
    const auto audio = audiotest::speechLike(seconds, 9);
    media::GsmEncoder encoder;
    media::GsmDecoder decoder;
    const double start = cpuSeconds();
    int rounds = 0;
    do {
        for (std::size_t i = 0; i + media::kFrameSamples <= audio.size(); i += media::kFrameSamples) {
            std::int16_t in[media::kFrameSamples];
            std::copy_n(audio.begin() + static_cast<std::ptrdiff_t>(i), media::kFrameSamples, in);
            std::uint8_t bytes[media::kGsmFrameBytes];
            encoder.encode(in, bytes);
            std::int16_t out[media::kFrameSamples];
            decoder.decode(bytes, sizeof bytes, out);
        }
        ++rounds;
    } while (cpuSeconds() - start < 2.0);
    return (cpuSeconds() - start) / (rounds * seconds);
}

// The echo server in a child process, so that its work is not counted.
// Forked before any thread of ours exists.
struct ChildServer {
    pid_t pid = -1;
    int toChild = -1;
    std::string host;

    ChildServer()
    {
        int up[2], down[2];
        if (::pipe(up) != 0 || ::pipe(down) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::close(up[0]);
            ::close(down[1]);
            {
                InProcessServer server{devserver::Impairment{}};
                const std::uint16_t port = server.server->port();
                if (::write(up[1], &port, sizeof port) != sizeof port)
                    ::_exit(1);
                char c;
                while (::read(down[0], &c, 1) > 0) {
                }
            }
            ::_exit(0);
        }
        ::close(up[1]);
        ::close(down[0]);
        toChild = down[1];
        std::uint16_t port = 0;
        if (::read(up[0], &port, sizeof port) == sizeof port)
            host = "127.0.0.1:" + std::to_string(port);
        ::close(up[0]);
    }
    ~ChildServer()
    {
        if (toChild >= 0)
            ::close(toChild);
        if (pid > 0)
            ::waitpid(pid, nullptr, 0);
    }
};

// One echo call of the given length; the CPU the process spent while it was answered.
bool measuredCall(const std::string &host, double seconds, Cpu *used, double *wall)
{
    startEngine();
    {
        std::lock_guard<std::mutex> lock(events.mutex);
        events.state = 0;
    }
    iaxc_call(("bench:bench@" + host + "/999").c_str());
    if (!waitState(true, 10s)) {
        iaxc_shutdown();
        return false;
    }
    const Cpu before = cpuNow();
    const auto wallStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(int(seconds * 1000)));
    const Cpu after = cpuNow();
    *wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    used->user = after.user - before.user;
    used->system = after.system - before.system;
    iaxc_dump_call();
    waitState(false, 5s);
    iaxc_shutdown();
    return true;
}

void benchCpu(double seconds)
{
    ChildServer server;
    if (server.host.empty())
        return;
    const double codec = codecCpuPerSecond(seconds);
    Files files(seconds);
    for (const char *processing : {"auto", "on"}) {
        ::setenv("ONDAVOX_AUDIO_PROCESSING", processing, 1);
        Cpu used;
        double wall = 0;
        if (!measuredCall(server.host, seconds, &used, &wall)) {
            std::printf("cpu: the call was not answered\n");
            break;
        }
        std::printf("cpu, %.0f s echo call, echo cancelling and noise suppression %s:\n", wall,
                    std::strcmp(processing, "on") == 0 ? "forced on" : "as chosen for file devices (off)");
        std::printf("  engine %.2f ms per second of call (user %.2f, kernel %.2f); GSM coding alone %.2f ms; "
                    "user time / codec %.2f\n",
                    1000 * used.total() / wall, 1000 * used.user / wall, 1000 * used.system / wall, 1000 * codec,
                    used.user / wall / codec);
    }
    ::unsetenv("ONDAVOX_AUDIO_PROCESSING");
}

// For callgrind (see cpu_callgrind.sh): "call S" is one echo call of S
// seconds, "codec S" codes the first S seconds of the same audio once. Both
// prepare ten seconds of audio whatever S is, so the difference between two
// lengths is the work of the call (or of the codec) alone.
constexpr double kPreparedSeconds = 10;

void callOnly(double seconds)
{
    ChildServer server;
    Files files(kPreparedSeconds);
    Cpu used;
    double wall = 0;
    if (measuredCall(server.host, seconds, &used, &wall))
        std::printf("call of %.1f s: %.2f ms CPU\n", wall, 1000 * used.total());
}

void codecOnly(double seconds)
{
    auto audio = audiotest::speechLike(kPreparedSeconds, 9);
    audio.resize(std::min(audio.size(), static_cast<std::size_t>(seconds * 8000)));
    media::GsmEncoder encoder;
    media::GsmDecoder decoder;
    for (std::size_t i = 0; i + media::kFrameSamples <= audio.size(); i += media::kFrameSamples) {
        std::int16_t in[media::kFrameSamples];
        std::copy_n(audio.begin() + static_cast<std::ptrdiff_t>(i), media::kFrameSamples, in);
        std::uint8_t bytes[media::kGsmFrameBytes];
        encoder.encode(in, bytes);
        std::int16_t out[media::kFrameSamples];
        decoder.decode(bytes, sizeof bytes, out);
    }
}

} // namespace

int main(int argc, char **argv)
{
    const std::string what = argc > 1 ? argv[1] : "all";
    // cpu forks the echo server: it goes first, before any thread exists.
    if (what == "cpu" || what == "all")
        benchCpu(argc > 2 ? std::atof(argv[2]) : 20.0);
    if (what == "delay" || what == "all")
        benchDelay(argc > 2 && what != "all" ? std::atoi(argv[2]) : 5);
    if (what == "impaired" || what == "all")
        benchImpaired(argc > 2 && what != "all" ? std::atoi(argv[2]) : 3);
    if (what == "jitter" || what == "all")
        benchJitterBuffer();
    if (what == "call")
        callOnly(argc > 2 ? std::atof(argv[2]) : 10.0);
    if (what == "codec")
        codecOnly(argc > 2 ? std::atof(argv[2]) : 10.0);
    if (what != "all" && what != "cpu" && what != "delay" && what != "impaired" && what != "jitter" && what != "call"
        && what != "codec") {
        std::fprintf(stderr, "usage: engine_bench [all | cpu [seconds] | delay [calls] | impaired [calls] | jitter"
                             " | call seconds | codec seconds]\n");
        return 2;
    }
    return 0;
}
