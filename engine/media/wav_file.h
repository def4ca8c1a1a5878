// 16-bit PCM WAV files: what the file microphone plays and the file speaker records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace media {

struct PcmAudio {
    int sampleRate = 0;
    std::vector<std::int16_t> samples; // mono: channels are mixed down
};

// False with a reason when the file is missing, not a WAV file, or not 16-bit PCM.
bool readWav(const std::string &path, PcmAudio *audio, std::string *error);

class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter &) = delete;
    WavWriter &operator=(const WavWriter &) = delete;

    // Creates (or empties) the file for mono 16-bit samples.
    bool open(const std::string &path, int sampleRate, std::string *error);
    // False once the file cannot be written any more (disk full, removed device).
    bool append(const std::int16_t *samples, std::size_t count);
    // Writes the sizes into the header so the file is readable as it stands.
    bool finish();
    void close();
    bool isOpen() const { return file_ != nullptr; }
    std::uint32_t samplesWritten() const { return samples_; }

private:
    std::FILE *file_ = nullptr;
    std::uint32_t samples_ = 0;
    int sampleRate_ = 0;
};

} // namespace media
