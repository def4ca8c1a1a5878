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
// at all. The libraries' complaints about missing cards stay off stderr. Any
// thread may list, one at a time.
std::vector<SoundCard> listSoundCards();

// Sets what listing needs in the process's environment. Listing does it
// too; a program that lists on another thread calls this first on its own,
// so that the environment never changes under the threads that read it.
void prepareSoundCards();

} // namespace media
