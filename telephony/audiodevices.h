#pragma once

#include <QList>
#include <QString>

// One audio device as the engine describes it.
struct DeviceEntry
{
    int id = 0;
    QString name;
    int capabilities = 0; // the engine's bits: 0 can record, 1 can play

    bool canRecord() const;
    bool canPlay() const;
};

// The engine's devices, copied at once (the engine may reuse its array), and
// its current input, output and ring devices.
struct EngineDevices
{
    QList<DeviceEntry> devices;
    int input = -1;
    int output = -1;
    int ring = -1;
};

EngineDevices engineDevices();

// The device stored under key in the settings file, or fallback when there
// is none.
int storedDevice(const char *key, int fallback);

// Hands the stored input and output devices to the engine (the ring follows
// the output); without stored values the engine keeps its current ones.
void applyStoredDevices();

// An id for setEngineDevices(): that side stays as it is.
constexpr int UnchangedDevice = -1;

// Sets the engine's input, output and ring devices.
void setEngineDevices(int input, int output, int ring);
// Asks the engine to look for devices again (a headset plugged in since the
// start); refused while a call holds the devices.
void refreshEngineDevices();
// The microphone open without a call, so that its level can be shown.
// startDeviceTest() says whether the test runs.
bool startDeviceTest();
void stopDeviceTest();
