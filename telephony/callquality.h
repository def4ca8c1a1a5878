#pragma once

#include <QString>

#include <deque>
#include <optional>

// How well a call carries speech, rated the way telephone networks are
// planned: the E-model of ITU-T G.107, cut down to what a softphone can
// measure. The codec is GSM full rate, whose equipment impairment Ie = 20 and
// packet-loss robustness Bpl = 43 come from ITU-T G.113 Appendix I; losses
// are taken as random (BurstR = 1), echo as controlled and the rest of the
// path (loudness, noise, sidetone) at the model's defaults, which leaves
// R = 93.2 - Idd - Ie,eff. Jitter counts through the delay that the jitter
// buffer adds to absorb it; the frames the buffer skips to keep that delay
// short are not counted as lost.

// What the call is doing now.
struct CallFigures
{
    double lossPercent = 0; // voice frames lost lately, in the worse direction
    int jitterMs = 0;       // the larger of the two directions
    int roundTripMs = 0;
    int bufferMs = 0;       // how long the jitter buffer holds voice back
};

// Mouth to ear, one way: half the round trip, the jitter buffer and one
// 20 ms GSM frame.
int oneWayDelayMs(const CallFigures &figures);
// The transmission rating R, from 0 (unusable) to 93.2 (the best a narrow-band
// call can be); GSM alone tops out at 73.2.
double callRating(const CallFigures &figures);

// The bars of the quality mark, by G.107's bands of user satisfaction shifted
// to what GSM can reach: R 70 and above 4 (a clean GSM call), 60 to 70 3,
// 50 to 60 2, below 50 1 (G.107 advises against such a call).
int qualityBars(double rating);
// "Good", "Fair", "Poor" or "Bad" for 4, 3, 2 and 1 bars.
QString qualityWord(int bars);
// The mark's tooltip: "Good · loss 0 % · jitter 12 ms · round trip 40 ms".
QString qualityDescription(const CallFigures &figures);

// The engine's statistics of one moment of the call, both directions.
struct CallStatistics
{
    struct Direction
    {
        int jitterMs = 0;
        int lost = 0;    // frames that never came, since the call began
        int packets = 0; // frames received since the call began
        int bufferMs = 0;
    };
    int roundTripMs = -1; // -1 until the first answer to a probe
    Direction received;   // what this side hears
    Direction sent;       // what the far end reports hearing of this side
};

// The figures of the last few seconds of a call from the engine's running
// totals, so that the mark recovers once a bad stretch is over.
class CallQuality
{
public:
    // Seconds of statistics that the loss is counted over.
    static constexpr std::size_t kWindow = 5;

    // A new call: nothing known.
    void reset();
    void add(const CallStatistics &statistics);
    // Nothing until the engine has measured a round trip and received voice.
    std::optional<CallFigures> figures() const;

private:
    std::deque<CallStatistics> recent;
};
