#pragma once

#include <QWidget>

#include <functional>

namespace Ui {
class TCallDialog;
}

class QTimer;

// The in-call page of the main window: the dialled number, the running
// duration of an answered call, a DTMF keypad and the hang-up button.
class TCallDialog : public QWidget
{
    Q_OBJECT

public:
    // Seconds since 1970-01-01 00:00 UTC.
    using Clock = std::function<qint64()>;

    explicit TCallDialog(QWidget *parent = nullptr);
    ~TCallDialog() override;

    // Starts the duration display from now; a running display starts over.
    void start();
    // Stops the duration display and shows "00:00:00".
    void stop();
    void setNumber(const QString &number);

    // The clock the duration is read from; the wall clock unless replaced.
    void setClock(Clock clock);

signals:
    void hangUp();

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void on_pbHangUp_clicked();
    void onDTFMButton();
    void onCallDurationTimeout();

private:
    Ui::TCallDialog *ui;
    quint32 startTime = 0;
    QTimer *durationTimer;
    Clock clock;
};
