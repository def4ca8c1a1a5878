#include "telephony/tsettings.h"
#include "ui_tsettings.h"

#include "app/settings.h"

#include <iaxclient.h>

#include <QSettings>

TSettings::TSettings(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::TSettings)
{
    ui->setupUi(this);
    loadDevices();
    applyStoredDevices();
}

TSettings::~TSettings()
{
    delete ui;
}

void TSettings::loadDevices()
{
    const EngineDevices engine = engineDevices();
    ui->cbInputDevice->clear();
    ui->cbOutputDevice->clear();
    inputDevices.clear();
    outputDevices.clear();

    // -1 rather than the engine's current device: with nothing stored, the
    // first device of each list stays selected.
    const int storedInput = storedDevice(Settings::InputDevice, -1);
    const int storedOutput = storedDevice(Settings::OutputDevice, -1);

    for (const DeviceEntry &device : engine.devices) {
        if (device.capabilities & IAXC_AD_INPUT) {
            ui->cbInputDevice->addItem(device.name);
            if (device.id == storedInput)
                ui->cbInputDevice->setCurrentIndex(ui->cbInputDevice->count() - 1);
            inputDevices.append(device);
        }
        if (device.capabilities & IAXC_AD_OUTPUT) {
            ui->cbOutputDevice->addItem(device.name);
            if (device.id == storedOutput)
                ui->cbOutputDevice->setCurrentIndex(ui->cbOutputDevice->count() - 1);
            outputDevices.append(device);
        }
    }
}

void TSettings::on_pbSave_clicked()
{
    // Without a device on one side (an empty list) that side keeps what was
    // stored before; nothing is read outside the lists.
    auto entryAt = [](const QList<DeviceEntry> &devices, int index) -> const DeviceEntry * {
        return index >= 0 && index < devices.size() ? &devices.at(index) : nullptr;
    };
    const DeviceEntry *input = entryAt(inputDevices, ui->cbInputDevice->currentIndex());
    const DeviceEntry *output = entryAt(outputDevices, ui->cbOutputDevice->currentIndex());

    if (input || output) {
        auto settings = Settings::open();
        if (input)
            settings->setValue(QLatin1String(Settings::InputDevice), input->id);
        if (output)
            settings->setValue(QLatin1String(Settings::OutputDevice), output->id);
        Settings::sync(*settings);
    }

    if (input && output) {
        iaxc_audio_devices_set(input->id, output->id, output->id);
    } else {
        // One side is missing: hand the engine what is stored (or its own
        // current device) for that side.
        applyStoredDevices();
    }
    close();
}
