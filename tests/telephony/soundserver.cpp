#include "soundserver.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

} // namespace

SoundServer::SoundServer()
{
    const QString root = dir_.path();
    QDir().mkpath(root + QStringLiteral("/home"));
    QDir().mkpath(root + QStringLiteral("/runtime"));
    socket_ = root + QStringLiteral("/runtime/native");

    const QByteArray config =
        "load-module module-null-sink sink_name=room channels=2 channel_map=front-left,front-right\n"
        "load-module module-remap-source source_name=mouth master=room.monitor channels=1"
        " master_channel_map=front-left channel_map=mono remix=no\n"
        "load-module module-remap-sink sink_name=ear master=room channels=1"
        " master_channel_map=front-right channel_map=mono remix=no\n"
        "load-module module-null-sink sink_name=lounge\n"
        "load-module module-null-sink sink_name=street\n"
        "load-module module-native-protocol-unix auth-anonymous=1 socket="
        + socket_.toLocal8Bit() + "\n"
        "set-default-sink lounge\n"
        "set-default-source street.monitor\n";
    writeFile(root + QStringLiteral("/server.pa"), config);
    // A client that finds no server must not start one of its own.
    writeFile(root + QStringLiteral("/client.conf"), "autospawn = no\n");
    writeFile(root + QStringLiteral("/home/.asoundrc"),
              "pcm.headset_mic {\n    type pulse\n    device \"mouth\"\n}\n"
              "pcm.headset_speaker {\n    type pulse\n    device \"ear\"\n}\n"
              "pcm_type.failing_start {\n    lib \"" FAILING_START_PCM "\"\n}\n"
              "pcm.dying_mic {\n    type failing_start\n}\n");

    qputenv("HOME", (root + QStringLiteral("/home")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/runtime")).toLocal8Bit());
    qputenv("PULSE_RUNTIME_PATH", (root + QStringLiteral("/runtime")).toLocal8Bit());
    qputenv("PULSE_STATE_PATH", (root + QStringLiteral("/runtime")).toLocal8Bit());
    qputenv("PULSE_CLIENTCONFIG", (root + QStringLiteral("/client.conf")).toLocal8Bit());
    qputenv("PULSE_SERVER", "unix:" + socket_.toLocal8Bit());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

SoundServer::~SoundServer()
{
    for (auto *process : {player_.get(), recorder_.get()}) {
        if (process) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    stop();
}

bool SoundServer::start(QString *error)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    if (program.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("pacat")).isEmpty()) {
        *error = QStringLiteral("pulseaudio and pacat are not installed (scripts/install-deps.sh installs them)");
        return false;
    }
    if (!writeFile(dir_.path() + QStringLiteral("/probe"), "")) {
        *error = QStringLiteral("no temporary folder for the sound server");
        return false;
    }
    server_ = std::make_unique<QProcess>();
    server_->setProcessChannelMode(QProcess::MergedChannels);
    // -n: no default configuration, only the private one; as root (CI
    // containers) it runs as a per-user daemon all the same, with a warning.
    server_->start(program, {QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                             QStringLiteral("-n"), QStringLiteral("--use-pid-file=no"),
                             QStringLiteral("--system=no"), QStringLiteral("--log-target=stderr"),
                             QStringLiteral("-F"), dir_.path() + QStringLiteral("/server.pa")});
    if (!server_->waitForStarted(10000)) {
        *error = QStringLiteral("pulseaudio did not start: ") + server_->errorString();
        server_.reset();
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (server_->state() != QProcess::Running)
            break;
        if (tool({QStringLiteral("pactl"), QStringLiteral("info")}, {}, 2000))
            return true;
        QThread::msleep(100);
    }
    server_->waitForFinished(100);
    *error = QStringLiteral("pulseaudio did not come up: ") + QString::fromLocal8Bit(server_->readAll()).trimmed();
    stop();
    return false;
}

void SoundServer::stop()
{
    if (!server_)
        return;
    server_->kill();
    server_->waitForFinished(5000);
    server_.reset();
    QFile::remove(socket_);
}

bool SoundServer::running() const
{
    return server_ && server_->state() == QProcess::Running;
}

bool SoundServer::tool(const QStringList &arguments, const QByteArray &input, int timeoutMs) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(arguments.first(), arguments.mid(1));
    if (!process.waitForStarted(timeoutMs))
        return false;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    return process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

bool SoundServer::playIntoMouth(const std::vector<std::int16_t> &samples)
{
    QByteArray stereo;
    stereo.reserve(int(samples.size() * 4));
    for (const std::int16_t s : samples) {
        const std::int16_t frame[2] = {s, 0};
        stereo.append(reinterpret_cast<const char *>(frame), sizeof frame);
    }
    player_ = std::make_unique<QProcess>();
    player_->setProcessChannelMode(QProcess::ForwardedChannels);
    player_->start(QStringLiteral("pacat"),
                   {QStringLiteral("--playback"), QStringLiteral("--device=room"), QStringLiteral("--channels=2"),
                    QStringLiteral("--rate=8000"), QStringLiteral("--format=s16le"), QStringLiteral("--raw"),
                    QStringLiteral("--latency-msec=40")});
    if (!player_->waitForStarted(10000))
        return false;
    player_->write(stereo);
    player_->closeWriteChannel();
    return true;
}

bool SoundServer::playing() const
{
    return player_ && player_->state() != QProcess::NotRunning;
}

bool SoundServer::startRecording()
{
    recorder_ = std::make_unique<QProcess>();
    recorder_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QFile::remove(dir_.path() + QStringLiteral("/room.raw"));
    recorder_->setStandardOutputFile(dir_.path() + QStringLiteral("/room.raw"));
    recorder_->start(QStringLiteral("pacat"),
                     {QStringLiteral("--record"), QStringLiteral("--device=room.monitor"), QStringLiteral("--channels=2"),
                      QStringLiteral("--rate=8000"), QStringLiteral("--format=s16le"), QStringLiteral("--raw"),
                      QStringLiteral("--latency-msec=20")});
    return recorder_->waitForStarted(10000);
}

SoundServer::Recording SoundServer::stopRecording()
{
    Recording out;
    if (!recorder_)
        return out;
    recorder_->terminate();
    recorder_->waitForFinished(5000);
    recorder_.reset();
    QFile file(dir_.path() + QStringLiteral("/room.raw"));
    const QByteArray raw = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const auto *frames = reinterpret_cast<const std::int16_t *>(raw.constData());
    const std::size_t count = std::size_t(raw.size()) / 4;
    out.mouth.reserve(count);
    out.ear.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        out.mouth.push_back(frames[2 * i]);
        out.ear.push_back(frames[2 * i + 1]);
    }
    return out;
}
