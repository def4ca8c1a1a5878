#include "avatar.h"

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QString>
#include <QStringList>

#include <mutex>

namespace devserver::web {

namespace {

// Font rendering is shared process state; HTTP workers draw one at a time.
std::mutex drawingMutex;

std::string pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

QString firstLetter(const QString &word)
{
    for (const QChar c : word) {
        if (c.isLetterOrNumber())
            return QString(c).toUpper();
    }
    return {};
}

} // namespace

std::string initialsOf(const std::string &utf8Name)
{
    const QStringList words = QString::fromUtf8(utf8Name.data(), static_cast<qsizetype>(utf8Name.size()))
                                  .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QString initials;
    if (!words.isEmpty())
        initials += firstLetter(words.first());
    if (words.size() > 1)
        initials += firstLetter(words.last());
    if (initials.isEmpty())
        initials = QStringLiteral("?");
    return initials.toStdString();
}

std::string drawAvatarPng(const std::string &utf8Name)
{
    static const QColor palette[] = {
        QColor(0x1f, 0x77, 0xb4), QColor(0x2c, 0xa0, 0x2c), QColor(0xd6, 0x27, 0x28),
        QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2),
        QColor(0x17, 0xa2, 0xb8), QColor(0xff, 0x7f, 0x0e),
    };
    unsigned int sum = 0;
    for (char c : utf8Name)
        sum = sum * 31 + static_cast<unsigned char>(c);
    const QColor colour = palette[sum % (sizeof palette / sizeof palette[0])];

    std::lock_guard<std::mutex> lock(drawingMutex);
    QImage image(kPhotoSize, kPhotoSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(QRectF(1, 1, kPhotoSize - 2, kPhotoSize - 2));
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(20);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(image.rect(), Qt::AlignCenter, QString::fromStdString(initialsOf(utf8Name)));
    }
    return pngBytes(image);
}

std::optional<std::string> normalisedPhotoPng(const std::string &bytes)
{
    if (bytes.empty())
        return std::nullopt;
    QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // A small file can announce an enormous picture: the size is read from
    // its header, and only a picture of reasonable size is decoded.
    const QSize size = reader.size();
    if (!size.isValid() || static_cast<qint64>(size.width()) * size.height() > kMaxPhotoPixels)
        return std::nullopt;
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return std::nullopt;
    const int side = std::min(image.width(), image.height());
    const QImage square = image.copy((image.width() - side) / 2, (image.height() - side) / 2, side, side);
    return pngBytes(square.scaled(kPhotoSize, kPhotoSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

} // namespace devserver::web
