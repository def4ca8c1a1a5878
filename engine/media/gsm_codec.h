// GSM 06.10 full rate through libgsm: 160 samples at 8 kHz (20 ms) to 33 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

struct gsm_state;

namespace media {

constexpr int kSampleRate = 8000;
constexpr int kFrameMs = 20;
constexpr std::size_t kFrameSamples = 160;
constexpr std::size_t kGsmFrameBytes = 33;

class GsmEncoder {
public:
    GsmEncoder();
    ~GsmEncoder();
    GsmEncoder(const GsmEncoder &) = delete;
    GsmEncoder &operator=(const GsmEncoder &) = delete;

    void encode(const std::int16_t (&pcm)[kFrameSamples], std::uint8_t (&out)[kGsmFrameBytes]);

private:
    gsm_state *state_;
};

class GsmDecoder {
public:
    GsmDecoder();
    ~GsmDecoder();
    GsmDecoder(const GsmDecoder &) = delete;
    GsmDecoder &operator=(const GsmDecoder &) = delete;

    // False (and silence out) when the bytes are not a GSM frame.
    bool decode(const std::uint8_t *frame, std::size_t size, std::int16_t (&pcm)[kFrameSamples]);

private:
    gsm_state *state_;
};

} // namespace media
