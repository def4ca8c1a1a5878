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

private slots:
    void on_pbSave_clicked();

private:
    void loadDevices();

    Ui::TSettings *ui;
    QList<DeviceEntry> inputDevices;  // parallel to cbInputDevice
    QList<DeviceEntry> outputDevices; // parallel to cbOutputDevice
};
