// Test audio and the measurements made on it: a speech-like test signal,
// and the delay and likeness of a recording to it by cross-correlation.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace audiotest {

// Syllables of voiced sound: a gliding pitch of 90 to 260 Hz with harmonics
// shaped by two formants, an attack and a decay, and short pauses between.
// Speech codecs are built for this; white noise or pure tones would test
// the codec's blind spots rather than the path.
inline std::vector<std::int16_t> speechLike(double seconds, unsigned seed, int rate = 8000)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<std::int16_t> out;
    const std::size_t total = static_cast<std::size_t>(seconds * rate);
    const double pi = 3.14159265358979323846;
    while (out.size() < total) {
        const std::size_t length = static_cast<std::size_t>((0.12 + 0.2 * uniform(random)) * rate);
        const double f0Start = 90 + 170 * uniform(random);
        const double f0End = 90 + 170 * uniform(random);
        const double formant1 = 300 + 600 * uniform(random);
        const double formant2 = 900 + 1600 * uniform(random);
        const double loudness = 3000 + 7000 * uniform(random);
        double phase = 0;
        for (std::size_t i = 0; i < length && out.size() < total; ++i) {
            const double t = double(i) / double(length);
            const double f0 = f0Start + (f0End - f0Start) * t;
            phase += 2 * pi * f0 / rate;
            double v = 0;
            for (int h = 1; h * f0 < 3400; ++h) {
                const double f = h * f0;
                const double gain = 1.0 / (1.0 + std::pow((f - formant1) / 150.0, 2))
                                    + 0.5 / (1.0 + std::pow((f - formant2) / 200.0, 2)) + 0.02;
                v += gain * std::sin(h * phase);
            }
            const double envelope = std::min(1.0, t * 10) * std::min(1.0, (1 - t) * 5);
            out.push_back(static_cast<std::int16_t>(std::clamp(v * loudness * envelope / 3, -32000.0, 32000.0)));
        }
        const std::size_t pause = static_cast<std::size_t>((0.03 + 0.08 * uniform(random)) * rate);
        out.insert(out.end(), std::min(pause, total - std::min(total, out.size())), 0);
    }
    return out;
}

struct Match {
    int lag = 0;         // samples by which the recording is later than the reference
    double correlation = 0; // normalised, 1 = identical shape
};

// Normalised cross-correlation of ref[begin, end) against rec shifted by
// each lag in [minLag, maxLag]; the best lag wins.
inline Match bestMatch(const std::vector<std::int16_t> &ref, std::size_t begin, std::size_t end,
                       const std::vector<std::int16_t> &rec, int minLag, int maxLag)
{
    Match best;
    best.correlation = -2;
    end = std::min(end, ref.size());
    double refEnergy = 0;
    for (std::size_t i = begin; i < end; ++i)
        refEnergy += double(ref[i]) * ref[i];
    for (int lag = minLag; lag <= maxLag; ++lag) {
        double cross = 0;
        double recEnergy = 0;
        for (std::size_t i = begin; i < end; ++i) {
            const long j = static_cast<long>(i) + lag;
            if (j < 0 || j >= static_cast<long>(rec.size()))
                continue;
            cross += double(ref[i]) * rec[static_cast<std::size_t>(j)];
            recEnergy += double(rec[static_cast<std::size_t>(j)]) * rec[static_cast<std::size_t>(j)];
        }
        const double c = (refEnergy > 0 && recEnergy > 0) ? cross / std::sqrt(refEnergy * recEnergy) : 0;
        if (c > best.correlation) {
            best.correlation = c;
            best.lag = lag;
        }
    }
    return best;
}

// The whole signal at the one best lag, then each half-second window
// within a period and a little of that lag either way (a jitter buffer may
// grow or shrink by a period now and then): the median window tells how
// alike the audio is, the lag how late it is.
struct Likeness {
    int lag = 0;
    double whole = 0;
    double medianWindow = 0;
    double worstWindow = 0;
};

inline Likeness compare(const std::vector<std::int16_t> &ref, const std::vector<std::int16_t> &rec, int maxLag)
{
    Likeness out;
    // Coarse on quarter-rate copies, then exact around the coarse answer:
    // a full search costs seconds in a sanitizer build.
    auto quarter = [](const std::vector<std::int16_t> &v) {
        std::vector<std::int16_t> q(v.size() / 4);
        for (std::size_t i = 0; i < q.size(); ++i)
            q[i] = static_cast<std::int16_t>((v[4 * i] + v[4 * i + 1] + v[4 * i + 2] + v[4 * i + 3]) / 4);
        return q;
    };
    const auto refQuarter = quarter(ref);
    const Match coarse = bestMatch(refQuarter, 0, refQuarter.size(), quarter(rec), 0, maxLag / 4);
    const Match whole = bestMatch(ref, 0, ref.size(), rec, std::max(0, coarse.lag * 4 - 8), coarse.lag * 4 + 8);
    out.lag = whole.lag;
    out.whole = whole.correlation;
    std::vector<double> windows;
    const std::size_t window = 4000;
    const int kSlip = 200; // 25 ms
    for (std::size_t begin = 0; begin + window <= ref.size(); begin += window) {
        double energy = 0;
        for (std::size_t i = begin; i < begin + window; ++i)
            energy += double(ref[i]) * ref[i];
        if (energy < 1e6 * window / 100) // mostly pause: nothing to compare
            continue;
        windows.push_back(bestMatch(ref, begin, begin + window, rec, whole.lag - kSlip, whole.lag + kSlip).correlation);
    }
    if (!windows.empty()) {
        std::sort(windows.begin(), windows.end());
        out.medianWindow = windows[windows.size() / 2];
        out.worstWindow = windows.front();
    }
    return out;
}

} // namespace audiotest
