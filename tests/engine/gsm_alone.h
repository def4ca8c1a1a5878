// What GSM alone does to a signal: encoded and decoded a frame at a time,
// with no network in between. The best any call carrying it can sound, so
// the bar an echo's likeness is measured against.
#pragma once

#include "gsm_codec.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace audiotest {

inline std::vector<std::int16_t> afterGsm(const std::vector<std::int16_t> &pcm)
{
    media::GsmEncoder encoder;
    media::GsmDecoder decoder;
    std::vector<std::int16_t> out;
    for (std::size_t i = 0; i + media::kFrameSamples <= pcm.size(); i += media::kFrameSamples) {
        std::int16_t in[media::kFrameSamples];
        std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(i), media::kFrameSamples, in);
        std::uint8_t bytes[media::kGsmFrameBytes];
        encoder.encode(in, bytes);
        std::int16_t decoded[media::kFrameSamples];
        decoder.decode(bytes, sizeof bytes, decoded);
        out.insert(out.end(), std::begin(decoded), std::end(decoded));
    }
    return out;
}

} // namespace audiotest
