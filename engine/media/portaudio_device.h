// Sound cards through PortAudio. Cards that cannot run at 8 kHz run at their
// own rate, resampled on the way in and out.
#pragma once

#include "audio_device.h"

#include <memory>
#include <vector>

namespace media {

class PortAudioSystem;

struct SoundCard {
    std::shared_ptr<AudioDevice> device;
    std::string hostApi;  // part of what makes the identifier stable
    bool defaultInput = false;
    bool defaultOutput = false;
};

// Starts PortAudio and lists its devices; empty when there is no sound system
// at all. The libraries' complaints about missing cards stay off stderr.
std::vector<SoundCard> listSoundCards();

} // namespace media
