#include "resampler.h"

#include <speex/speex_resampler.h>

#include <new>
#include <stdexcept>

namespace media {

Resampler::Resampler(int inputRate, int outputRate, int quality) : inputRate_(inputRate), outputRate_(outputRate)
{
    if (inputRate <= 0 || outputRate <= 0)
        throw std::invalid_argument("sample rates must be positive");
    if (inputRate == outputRate)
        return;
    int error = 0;
    state_ = speex_resampler_init(1, static_cast<spx_uint32_t>(inputRate), static_cast<spx_uint32_t>(outputRate),
                                  quality, &error);
    if (!state_)
        throw std::bad_alloc();
    // Without this the first block comes out short by the filter's length.
    speex_resampler_skip_zeros(state_);
}

Resampler::~Resampler()
{
    if (state_)
        speex_resampler_destroy(state_);
}

int Resampler::latency() const
{
    return state_ ? speex_resampler_get_output_latency(state_) : 0;
}

void Resampler::process(const std::int16_t *in, std::size_t count, std::vector<std::int16_t> &out)
{
    if (!state_) {
        out.insert(out.end(), in, in + count);
        return;
    }
    while (count > 0) {
        const std::size_t room = count * static_cast<std::size_t>(outputRate_) / static_cast<std::size_t>(inputRate_) + 16;
        const std::size_t start = out.size();
        out.resize(start + room);
        spx_uint32_t inLen = static_cast<spx_uint32_t>(count);
        spx_uint32_t outLen = static_cast<spx_uint32_t>(room);
        speex_resampler_process_int(state_, 0, in, &inLen, out.data() + start, &outLen);
        out.resize(start + outLen);
        if (inLen == 0 && outLen == 0)
            break; // nothing moves: never spin
        in += inLen;
        count -= inLen;
    }
}

} // namespace media
