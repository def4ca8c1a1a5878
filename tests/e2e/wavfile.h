// The WAV files of the engine's file microphone and file speaker, as the
// journeys write and read them: 16-bit PCM, mono.
#pragma once

#include <QFile>
#include <QString>
#include <QtEndian>

#include <cstdint>
#include <vector>

namespace wavfile {

struct Audio {
    int sampleRate = 0;
    std::vector<std::int16_t> samples;
};

inline bool write(const QString &path, const std::vector<std::int16_t> &samples, int sampleRate)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const quint32 dataBytes = quint32(samples.size() * 2);
    QByteArray header;
    auto u32 = [&header](quint32 v) { header.append(reinterpret_cast<const char *>(&(v = qToLittleEndian(v))), 4); };
    auto u16 = [&header](quint16 v) { header.append(reinterpret_cast<const char *>(&(v = qToLittleEndian(v))), 2); };
    header.append("RIFF");
    u32(36 + dataBytes);
    header.append("WAVEfmt ");
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(quint32(sampleRate));
    u32(quint32(sampleRate * 2));
    u16(2);
    u16(16);
    header.append("data");
    u32(dataBytes);
    std::vector<std::int16_t> little(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        little[i] = qToLittleEndian(samples[i]);
    return file.write(header) == header.size()
           && file.write(reinterpret_cast<const char *>(little.data()), qint64(dataBytes)) == qint64(dataBytes);
}

// The samples up to the end of the file: a speaker that is still recording
// brings its header up to date only now and then.
inline Audio read(const QString &path)
{
    Audio audio;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return audio;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return audio;
    qsizetype at = 12;
    int channels = 0;
    int bits = 0;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt " && body + 16 <= bytes.size()) {
            channels = qFromLittleEndian<quint16>(bytes.constData() + body + 2);
            audio.sampleRate = int(qFromLittleEndian<quint32>(bytes.constData() + body + 4));
            bits = qFromLittleEndian<quint16>(bytes.constData() + body + 14);
        } else if (id == "data") {
            if (channels != 1 || bits != 16)
                return Audio{};
            for (qsizetype i = body; i + 1 < bytes.size(); i += 2)
                audio.samples.push_back(qFromLittleEndian<qint16>(bytes.constData() + i));
            return audio;
        }
        at = body + qsizetype(size) + (size & 1);
    }
    return Audio{};
}

} // namespace wavfile
