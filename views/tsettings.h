#pragma once

#include "telephony/audiodevices.h"

#include <QDialog>
#include <QList>

namespace Ui {
class TSettings;
}

// The audio settings dialog: which microphone and speaker the engine uses.
class TSettings : public QDialog
{
    Q_OBJECT

public:
    explicit TSettings(QWidget *parent = nullptr);
    ~TSettings() override;

public slots:
    // The engine's levels in dB; the input moves the level bar.
    void showLevels(float input, float output);

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void on_pbSave_clicked();

private:
    void loadDevices();
    // The meter listens to the microphone chosen in the list, saved or not.
    void tryInputDevice(int index);

    Ui::TSettings *ui;
    QList<DeviceEntry> inputDevices;  // parallel to cbInputDevice
    QList<DeviceEntry> outputDevices; // parallel to cbOutputDevice
    bool testing = false; // the engine's device test runs for this dialog
    bool tried = false;   // another microphone than the stored one was tried
    bool saved = false;
};
