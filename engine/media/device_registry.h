// The devices the program can choose from, each under an integer identifier
// that stays the same as long as the device does: 0 and 1 are the built-in
// silent microphone and discarding speaker, 2 and 3 the file microphone and
// file speaker when ONDAVOX_AUDIO_IN_FILE / ONDAVOX_AUDIO_OUT_FILE name them,
// and sound cards get a number derived from their host API and name, so a
// stored choice still means the same card after a restart or a replug.
#pragma once

#include "audio_device.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace media {

struct DeviceEntry {
    int id = 0;
    std::string name;
    bool canRecord = false;
    bool canPlay = false;
    std::shared_ptr<AudioDevice> device;
};

namespace deviceid {
constexpr int SilentMicrophone = 0;
constexpr int DiscardingSpeaker = 1;
constexpr int FileMicrophone = 2;
constexpr int FileSpeaker = 3;
constexpr int FirstSoundCard = 100;
} // namespace deviceid

class DeviceRegistry {
public:
    // Lists the built-in devices, the file devices of the environment and
    // (when withSoundCards) the sound cards PortAudio finds.
    void rebuild(bool withSoundCards);

    const std::vector<DeviceEntry> &entries() const { return entries_; }
    const DeviceEntry *find(int id) const;
    // File devices first, then the sound system's defaults, then the built-ins.
    int defaultInput() const { return defaultInput_; }
    int defaultOutput() const { return defaultOutput_; }

    // The identifier a sound card gets, from what names it.
    static int soundCardId(const std::string &hostApi, const std::string &name);

    // Lists a device under the identifier, or the next free one; returns the one it got.
    int add(int id, std::shared_ptr<AudioDevice> device);

private:
    std::vector<DeviceEntry> entries_;
    int defaultInput_ = deviceid::SilentMicrophone;
    int defaultOutput_ = deviceid::DiscardingSpeaker;
};

} // namespace media
