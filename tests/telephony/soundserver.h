// A private PulseAudio server for one test process, so the engine meets real
// sound devices (through ALSA's pulse plugin and PortAudio) on a machine
// without a sound card. Everything lives in a temporary folder: its own
// runtime folder, socket and home, no system service, no autospawn.
//
// The room: one stereo null sink "room". Its left channel is the mouth: what
// the test plays there is what the microphone "mouth" hears. Its right
// channel is the ear: what a program plays into the sink "ear" lands there.
// Recording the room's monitor gives both on one clock, so the delay from
// mouth to ear is measured to the sample. ALSA knows the two as the devices
// "headset_mic" and "headset_speaker"; the sound server's defaults are two
// other sinks nobody listens to, so a call only reaches the ear through the
// headset chosen in the program.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <vector>

class SoundServer
{
public:
    static constexpr int kRate = 8000;

    // Points this process's sound clients (libpulse, ALSA) at the private server.
    SoundServer();
    ~SoundServer();

    // Starts the server and waits until it answers; false with a reason when
    // it cannot run here.
    bool start(QString *error);
    // Ends it at once, as a crashed or removed sound server would go.
    void stop();
    bool running() const;

    // Starts playing mono samples into the mouth (the room's left channel);
    // the event loop feeds them, playing() tells when they are all out.
    bool playIntoMouth(const std::vector<std::int16_t> &samples);
    bool playing() const;

    // Records the room until stopRecording(): left is the mouth, right the ear.
    bool startRecording();
    struct Recording {
        std::vector<std::int16_t> mouth;
        std::vector<std::int16_t> ear;
    };
    Recording stopRecording();

private:
    bool tool(const QStringList &arguments, const QByteArray &input = {}, int timeoutMs = 10000) const;

    QTemporaryDir dir_;
    QString socket_;
    std::unique_ptr<QProcess> server_;
    std::unique_ptr<QProcess> player_;
    std::unique_ptr<QProcess> recorder_; // writes to a file: a pipe would fill while the test waits
};
