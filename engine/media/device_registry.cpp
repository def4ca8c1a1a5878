#include "device_registry.h"

#include "portaudio_device.h"

#include <algorithm>
#include <cstdlib>

namespace media {

int DeviceRegistry::soundCardId(const std::string &hostApi, const std::string &name)
{
    // FNV-1a: simple, and the same on every machine and every run.
    std::uint32_t h = 2166136261u;
    for (unsigned char c : hostApi + "/" + name) {
        h ^= c;
        h *= 16777619u;
    }
    return deviceid::FirstSoundCard + static_cast<int>(h % 1000000000u);
}

int DeviceRegistry::add(int id, std::shared_ptr<AudioDevice> device)
{
    while (find(id)) // two cards of the same name: the second takes the next number
        ++id;
    DeviceEntry e;
    e.id = id;
    e.name = device->name();
    e.canRecord = device->canRecord();
    e.canPlay = device->canPlay();
    e.device = std::move(device);
    entries_.push_back(std::move(e));
    return id;
}

const DeviceEntry *DeviceRegistry::find(int id) const
{
    for (const auto &e : entries_)
        if (e.id == id)
            return &e;
    return nullptr;
}

void DeviceRegistry::rebuild(bool withSoundCards)
{
    entries_.clear();
    defaultInput_ = deviceid::SilentMicrophone;
    defaultOutput_ = deviceid::DiscardingSpeaker;
    add(deviceid::SilentMicrophone, std::make_shared<SilentMicrophone>());
    add(deviceid::DiscardingSpeaker, std::make_shared<DiscardingSpeaker>());
    bool fileIn = false;
    bool fileOut = false;
    if (const char *in = std::getenv("ONDAVOX_AUDIO_IN_FILE"); in && *in) {
        add(deviceid::FileMicrophone, std::make_shared<FileMicrophone>(in));
        fileIn = true;
    }
    if (const char *out = std::getenv("ONDAVOX_AUDIO_OUT_FILE"); out && *out) {
        add(deviceid::FileSpeaker, std::make_shared<FileSpeaker>(out));
        fileOut = true;
    }
    if (withSoundCards) {
        for (auto &card : listSoundCards()) {
            const int id = soundCardId(card.hostApi, card.device->name());
            const int added = add(id, card.device);
            if (card.defaultInput && card.device->canRecord() && !fileIn)
                defaultInput_ = added;
            if (card.defaultOutput && card.device->canPlay() && !fileOut)
                defaultOutput_ = added;
        }
    }
    if (fileIn)
        defaultInput_ = deviceid::FileMicrophone;
    if (fileOut)
        defaultOutput_ = deviceid::FileSpeaker;

    // A device chooser starts on the first device of each kind: list the
    // ones in use first, so that saving a chooser left untouched keeps them
    // instead of picking the silent fallbacks.
    std::stable_partition(entries_.begin(), entries_.end(), [this](const DeviceEntry &e) {
        return e.id == defaultInput_ || e.id == defaultOutput_;
    });
}

} // namespace media
