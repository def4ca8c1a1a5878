#include "wav_file.h"

#include <cerrno>
#include <cstring>
#include <memory>

namespace media {

namespace {

constexpr std::uint32_t kMaxDataBytes = 512u << 20; // a microphone file is never this long

std::uint32_t le32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint16_t le16(const std::uint8_t *p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void put32(std::uint8_t *p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put16(std::uint8_t *p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

bool fail(std::string *error, const std::string &why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

bool readWav(const std::string &path, PcmAudio *audio, std::string *error)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return fail(error, "cannot open " + path + ": " + std::strerror(errno));
    std::uint8_t riff[12];
    if (std::fread(riff, 1, 12, file.get()) != 12 || std::memcmp(riff, "RIFF", 4) != 0
        || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return fail(error, path + " is not a WAV file");

    int channels = 0;
    int rate = 0;
    bool haveFormat = false;
    for (;;) {
        std::uint8_t header[8];
        if (std::fread(header, 1, 8, file.get()) != 8)
            return fail(error, path + " has no audio data");
        const std::uint32_t size = le32(header + 4);
        if (std::memcmp(header, "fmt ", 4) == 0) {
            if (size < 16 || size > 64)
                return fail(error, path + ": malformed format chunk");
            std::uint8_t fmt[64];
            if (std::fread(fmt, 1, size, file.get()) != size)
                return fail(error, path + ": truncated format chunk");
            std::uint16_t tag = le16(fmt);
            if (tag == 0xFFFE && size >= 26)
                tag = le16(fmt + 24); // WAVE_FORMAT_EXTENSIBLE: the sub-format's first two bytes
            channels = le16(fmt + 2);
            rate = static_cast<int>(le32(fmt + 4));
            const int bits = le16(fmt + 14);
            if (tag != 1 || bits != 16)
                return fail(error, path + " is not 16-bit PCM");
            if (channels < 1 || channels > 8 || rate < 4000 || rate > 192000)
                return fail(error, path + ": unusable channel count or sample rate");
            haveFormat = true;
            if (size % 2)
                std::fgetc(file.get());
            continue;
        }
        if (std::memcmp(header, "data", 4) == 0) {
            if (!haveFormat)
                return fail(error, path + ": audio data before the format");
            // Files written by a recorder that was cut off say 0 or too much: take what is there.
            const std::uint32_t want = (size == 0 || size > kMaxDataBytes) ? kMaxDataBytes : size;
            std::vector<std::int16_t> interleaved;
            std::vector<std::uint8_t> bytes(4096);
            std::uint32_t total = 0;
            while (total < want) {
                const std::size_t n = std::fread(bytes.data(), 1, std::min<std::size_t>(bytes.size(), want - total), file.get());
                if (n == 0)
                    break;
                for (std::size_t i = 0; i + 1 < n; i += 2)
                    interleaved.push_back(static_cast<std::int16_t>(le16(&bytes[i])));
                total += static_cast<std::uint32_t>(n);
            }
            audio->sampleRate = rate;
            audio->samples.clear();
            audio->samples.reserve(interleaved.size() / static_cast<std::size_t>(channels));
            for (std::size_t i = 0; i + static_cast<std::size_t>(channels) <= interleaved.size();
                 i += static_cast<std::size_t>(channels)) {
                int sum = 0;
                for (int c = 0; c < channels; ++c)
                    sum += interleaved[i + static_cast<std::size_t>(c)];
                audio->samples.push_back(static_cast<std::int16_t>(sum / channels));
            }
            return true;
        }
        // Skip chunks we do not need (LIST, fact, ...), padded to even sizes.
        if (std::fseek(file.get(), static_cast<long>(size + (size % 2)), SEEK_CUR) != 0)
            return fail(error, path + ": truncated chunk");
    }
}

WavWriter::~WavWriter()
{
    close();
}

bool WavWriter::open(const std::string &path, int sampleRate, std::string *error)
{
    close();
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_)
        return fail(error, "cannot create " + path + ": " + std::strerror(errno));
    sampleRate_ = sampleRate;
    samples_ = 0;
    if (!finish()) {
        close();
        return fail(error, "cannot write " + path);
    }
    return true;
}

bool WavWriter::append(const std::int16_t *samples, std::size_t count)
{
    if (!file_)
        return false;
    std::uint8_t bytes[2 * 512];
    while (count > 0) {
        const std::size_t n = std::min<std::size_t>(count, 512);
        for (std::size_t i = 0; i < n; ++i)
            put16(bytes + 2 * i, static_cast<std::uint16_t>(samples[i]));
        if (std::fwrite(bytes, 2, n, file_) != n)
            return false;
        samples_ += static_cast<std::uint32_t>(n);
        samples += n;
        count -= n;
    }
    return true;
}

bool WavWriter::finish()
{
    if (!file_)
        return false;
    std::uint8_t h[44];
    const std::uint32_t dataBytes = samples_ * 2;
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1); // PCM
    put16(h + 22, 1); // mono
    put32(h + 24, static_cast<std::uint32_t>(sampleRate_));
    put32(h + 28, static_cast<std::uint32_t>(sampleRate_) * 2);
    put16(h + 32, 2);
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, dataBytes);
    const long end = std::ftell(file_);
    bool ok = std::fseek(file_, 0, SEEK_SET) == 0 && std::fwrite(h, 1, 44, file_) == 44;
    ok = ok && std::fseek(file_, end < 44 ? 44 : end, SEEK_SET) == 0;
    return std::fflush(file_) == 0 && ok;
}

void WavWriter::close()
{
    if (!file_)
        return;
    finish();
    std::fclose(file_);
    file_ = nullptr;
}

} // namespace media
