#include "gsm_codec.h"

#include <gsm.h>

#include <algorithm>
#include <new>

namespace media {

namespace {

gsm createState()
{
    gsm state = gsm_create();
    if (!state)
        throw std::bad_alloc();
    return state;
}

} // namespace

GsmEncoder::GsmEncoder() : state_(createState()) {}

GsmEncoder::~GsmEncoder()
{
    gsm_destroy(state_);
}

void GsmEncoder::encode(const std::int16_t (&pcm)[kFrameSamples], std::uint8_t (&out)[kGsmFrameBytes])
{
    // libgsm takes a non-const buffer although it only reads it.
    gsm_signal samples[kFrameSamples];
    std::copy(std::begin(pcm), std::end(pcm), samples);
    gsm_encode(state_, samples, out);
}

GsmDecoder::GsmDecoder() : state_(createState()) {}

GsmDecoder::~GsmDecoder()
{
    gsm_destroy(state_);
}

bool GsmDecoder::decode(const std::uint8_t *frame, std::size_t size, std::int16_t (&pcm)[kFrameSamples])
{
    // Every full-rate frame starts with the 0xD signature nibble.
    if (!frame || size != kGsmFrameBytes || (frame[0] >> 4) != 0xD) {
        std::fill(std::begin(pcm), std::end(pcm), std::int16_t{0});
        return false;
    }
    gsm_byte bytes[kGsmFrameBytes];
    std::copy(frame, frame + kGsmFrameBytes, bytes);
    gsm_signal samples[kFrameSamples];
    if (gsm_decode(state_, bytes, samples) != 0) {
        std::fill(std::begin(pcm), std::end(pcm), std::int16_t{0});
        return false;
    }
    std::copy(std::begin(samples), std::end(samples), pcm);
    return true;
}

} // namespace media
