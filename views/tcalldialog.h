#pragma once

#include "telephony/callquality.h"

#include <QWidget>

#include <functional>

namespace Ui {
class TCallDialog;
}

class QTimer;

// The in-call page of the main window: the dialled number, the microphone
// (which mutes it), the running duration of an answered call with its
// quality and encryption marks, a DTMF keypad and the hang-up button. From
// the keyboard: digits, "*" and "#" send their tones, Escape hangs up and
// Ctrl+M mutes or unmutes.
class TCallDialog : public QWidget
{
    Q_OBJECT

public:
    // Seconds since 1970-01-01 00:00 UTC.
    using Clock = std::function<qint64()>;

    explicit TCallDialog(QWidget *parent = nullptr);
    ~TCallDialog() override;

    // The call was answered: starts the duration display from now (a running
    // display starts over) and shows whether the call is encrypted.
    void start();
    // Stops the duration display, shows "00:00:00", takes the marks away
    // and unmutes the microphone for the next call.
    void stop();
    void setNumber(const QString &number);

    // The engine's statistics of the answered call, about once a second.
    void showStatistics(const CallStatistics &statistics);

    // The clock the duration is read from; the wall clock unless replaced.
    void setClock(Clock clock);

signals:
    void hangUp();

protected:
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void on_pbHangUp_clicked();
    void on_pbMute_toggled(bool muted);
    void onDTFMButton();
    void onCallDurationTimeout();

private:
    void showMuteState();
    void showEncryption();
    void showQuality();

    Ui::TCallDialog *ui;
    quint32 startTime = 0;
    QTimer *durationTimer;
    Clock clock;
    CallQuality quality;
};
