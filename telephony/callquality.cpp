#include "telephony/callquality.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

// G.113 Appendix I, GSM 06.10 full rate.
constexpr double kEquipmentImpairment = 20.0;
constexpr double kLossRobustness = 43.0;
// Random loss: no burstiness measured.
constexpr double kBurstRatio = 1.0;
// G.107's basic signal-to-noise ratio less the simultaneous impairments, at
// the model's default values.
constexpr double kDefaultRating = 93.2;
constexpr int kFrameMs = 20;

// G.107's impairment by pure delay (Idd): none up to 100 ms one way, then
// growing ever faster.
double delayImpairment(double oneWayMs)
{
    if (oneWayMs <= 100.0)
        return 0.0;
    const double x = std::log2(oneWayMs / 100.0);
    return 25.0 * (std::pow(1.0 + std::pow(x, 6.0), 1.0 / 6.0)
                   - 3.0 * std::pow(1.0 + std::pow(x / 3.0, 6.0), 1.0 / 6.0) + 2.0);
}

// G.107's effective equipment impairment (Ie,eff) at a packet-loss percentage.
double lossImpairment(double lossPercent)
{
    const double loss = std::clamp(lossPercent, 0.0, 100.0);
    return kEquipmentImpairment
           + (95.0 - kEquipmentImpairment) * loss / (loss / kBurstRatio + kLossRobustness);
}

// The share of the frames due between two moments of one direction that
// never came; nothing when no frame was due in between.
std::optional<double> lossBetween(const CallStatistics::Direction &from, const CallStatistics::Direction &to)
{
    const long long lost = static_cast<long long>(to.lost) - from.lost;
    const long long due = lost + (static_cast<long long>(to.packets) - from.packets);
    if (due <= 0 || lost < 0)
        return std::nullopt;
    return 100.0 * static_cast<double>(lost) / static_cast<double>(due);
}

} // namespace

int oneWayDelayMs(const CallFigures &figures)
{
    return std::max(0, figures.roundTripMs) / 2 + std::max(0, figures.bufferMs) + kFrameMs;
}

double callRating(const CallFigures &figures)
{
    const double rating = kDefaultRating - delayImpairment(oneWayDelayMs(figures)) - lossImpairment(figures.lossPercent);
    return std::clamp(rating, 0.0, 100.0);
}

int qualityBars(double rating)
{
    if (rating >= 70.0)
        return 4;
    if (rating >= 60.0)
        return 3;
    if (rating >= 50.0)
        return 2;
    return 1;
}

QString qualityWord(int bars)
{
    switch (bars) {
    case 4:
        return QCoreApplication::translate("CallQuality", "Good");
    case 3:
        return QCoreApplication::translate("CallQuality", "Fair");
    case 2:
        return QCoreApplication::translate("CallQuality", "Poor");
    default:
        return QCoreApplication::translate("CallQuality", "Bad");
    }
}

QString qualityDescription(const CallFigures &figures)
{
    return QCoreApplication::translate("CallQuality", "%1 · loss %2 % · jitter %3 ms · round trip %4 ms")
        .arg(qualityWord(qualityBars(callRating(figures))))
        .arg(qRound(figures.lossPercent))
        .arg(figures.jitterMs)
        .arg(figures.roundTripMs);
}

void CallQuality::reset()
{
    recent.clear();
}

void CallQuality::add(const CallStatistics &statistics)
{
    // Totals that go back belong to a new stream: what came before says
    // nothing about it.
    if (!recent.empty()) {
        const CallStatistics &last = recent.back();
        const auto wentBack = [](const CallStatistics::Direction &now, const CallStatistics::Direction &before) {
            return now.lost < before.lost || now.packets < before.packets;
        };
        if (wentBack(statistics.received, last.received) || wentBack(statistics.sent, last.sent))
            recent.clear();
    }
    recent.push_back(statistics);
    // The window's first sample is its starting point, so one more than the
    // window is kept.
    while (recent.size() > kWindow + 1)
        recent.pop_front();
}

std::optional<CallFigures> CallQuality::figures() const
{
    if (recent.empty())
        return std::nullopt;
    const CallStatistics &now = recent.back();
    if (now.roundTripMs < 0 || now.received.packets <= 0)
        return std::nullopt;

    // Until the window is full it reaches back to the start of the call.
    const CallStatistics start = recent.size() > kWindow ? recent.front() : CallStatistics{};
    CallFigures figures;
    figures.lossPercent = std::max(lossBetween(start.received, now.received).value_or(0.0),
                                   lossBetween(start.sent, now.sent).value_or(0.0));
    figures.jitterMs = std::max(now.received.jitterMs, now.sent.packets > 0 ? now.sent.jitterMs : 0);
    figures.roundTripMs = now.roundTripMs;
    figures.bufferMs = now.received.bufferMs;
    return figures;
}
