#include "telephony/audiodevices.h"

#include "base/settings.h"

#include <iaxclient.h>

#include <QSettings>

bool DeviceEntry::canRecord() const
{
    return capabilities & IAXC_AD_INPUT;
}

bool DeviceEntry::canPlay() const
{
    return capabilities & IAXC_AD_OUTPUT;
}

EngineDevices engineDevices()
{
    EngineDevices result;
    iaxc_audio_device *devices = nullptr;
    int count = 0;
    iaxc_audio_devices_get(&devices, &count, &result.input, &result.output, &result.ring);
    // A missing array or a negative count means no devices, not a crash.
    if (!devices || count <= 0)
        return result;
    for (int i = 0; i < count; ++i) {
        DeviceEntry entry;
        entry.id = devices[i].devID;
        entry.name = devices[i].name ? QString::fromLatin1(devices[i].name) : QString();
        entry.capabilities = static_cast<int>(devices[i].capabilities);
        result.devices.append(entry);
    }
    return result;
}

int storedDevice(const char *key, int fallback)
{
    auto settings = Settings::open();
    bool ok = false;
    const int id = settings->value(QLatin1String(key)).toInt(&ok);
    // A missing key, or one spoilt by hand, leaves the fallback in place.
    return ok ? id : fallback;
}

void applyStoredDevices()
{
    // Not a word with the engine's device list: at start-up the engine may
    // still be looking for the sound cards, and a stored card is chosen
    // once it has found them.
    const int input = storedDevice(Settings::InputDevice, UnchangedDevice);
    const int output = storedDevice(Settings::OutputDevice, UnchangedDevice);
    setEngineDevices(input, output, output);
}

void setEngineDevices(int input, int output, int ring)
{
    iaxc_audio_devices_set(input, output, ring);
}

void refreshEngineDevices()
{
    iaxc_audio_devices_refresh();
}

bool startDeviceTest()
{
    return iaxc_audio_test_start() == 0;
}

void stopDeviceTest()
{
    iaxc_audio_test_stop();
}
