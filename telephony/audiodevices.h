#pragma once

#include <QList>
#include <QString>

// One audio device as the engine describes it.
struct DeviceEntry
{
    int id = 0;
    QString name;
    int capabilities = 0; // bit 0: can record, bit 1: can play
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
