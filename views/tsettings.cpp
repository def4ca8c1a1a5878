#include "views/tsettings.h"
#include "ui_tsettings.h"

#include "views/sharppicture.h"
#include "base/settings.h"

#include <QEvent>
#include <QProgressBar>
#include <QSettings>

#include <algorithm>
#include <cmath>

TSettings::TSettings(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::TSettings)
{
    ui->setupUi(this);
    showSharpPicture(ui->label_2, QStringLiteral(":/Images/InputDevice.png"));
    // A headset plugged in (or a sound server started) since the program
    // began is listed too; the engine refuses while a call holds the devices.
    refreshEngineDevices();
    loadDevices();
    applyStoredDevices();
    connect(ui->cbInputDevice, &QComboBox::activated, this, &TSettings::tryInputDevice);
}

TSettings::~TSettings()
{
    if (testing)
        stopDeviceTest();
    // Left without saving: the engine goes back to the stored microphone.
    if (tried && !saved)
        applyStoredDevices();
    delete ui;
}

void TSettings::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The level bar moves only with the microphone open, call or not.
    if (!testing)
        testing = startDeviceTest();
}

void TSettings::tryInputDevice(int index)
{
    if (index < 0 || index >= inputDevices.size())
        return;
    const EngineDevices current = engineDevices();
    setEngineDevices(inputDevices.at(index).id, current.output, current.ring);
    tried = true;
}

void TSettings::showLevels(float input, float output)
{
    Q_UNUSED(output);
    // -60 dB and below is an empty bar, full scale a full one.
    constexpr float floorDb = -60.0f;
    const float clamped = std::isfinite(input) ? std::clamp(input, floorDb, 0.0f) : floorDb;
    ui->barInputLevel->setValue(static_cast<int>(std::lround((clamped - floorDb) / -floorDb * 100.0f)));
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
        if (device.canRecord()) {
            ui->cbInputDevice->addItem(device.name);
            if (device.id == storedInput)
                ui->cbInputDevice->setCurrentIndex(ui->cbInputDevice->count() - 1);
            inputDevices.append(device);
        }
        if (device.canPlay()) {
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

    saved = true;
    if (input && output) {
        setEngineDevices(input->id, output->id, output->id);
    } else {
        // One side is missing: hand the engine what is stored (or its own
        // current device) for that side.
        applyStoredDevices();
    }
    close();
}

void TSettings::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
    }
}
