#pragma once

#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QString>

// One of the program's own pictures: a PNG file whose name says so. Left to
// guess, Qt's image reader loads every image plugin there is (GIF, ICO,
// JPEG and their libraries) to ask each whether it knows the data, which
// the first window of a start would pay for; the name is enough.
inline QImage readPicture(const QString &path)
{
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    QImage image = reader.read();
    if (path.contains(QLatin1String("@2x.")))
        image.setDevicePixelRatio(2.0);
    return image;
}

// NAME@2x.png for NAME.png.
inline QString twiceAsSharp(const QString &path)
{
    return QString(path).insert(path.lastIndexOf(QLatin1Char('.')), QLatin1String("@2x"));
}

// The picture at path, with the NAME@2x.png beside it where there is one,
// so that it stays sharp on a screen with a pixel ratio of 2. Both are read.
inline QIcon sharpIcon(const QString &path)
{
    QIcon icon;
    for (const QString &file : {path, twiceAsSharp(path)}) {
        const QImage image = readPicture(file);
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

// The picture at path for a screen of the given pixel ratio: its
// NAME@2x.png where the ratio is above 1 and there is one. Only that one is read.
inline QPixmap sharpPicture(const QString &path, qreal ratio)
{
    if (ratio > 1.0) {
        const QImage twice = readPicture(twiceAsSharp(path));
        if (!twice.isNull())
            return QPixmap::fromImage(twice);
    }
    return QPixmap::fromImage(readPicture(path));
}

// Shows the picture at path on the label, sharp at the pixel ratio of the
// label's screen. (A form would load a label's picture with QPixmap, which
// never takes the NAME@2x.png beside NAME.png, so on a screen with a ratio
// of 2 it would be drawn blown up.)
inline void showSharpPicture(QLabel *label, const QString &path)
{
    label->setPixmap(sharpPicture(path, label->devicePixelRatioF()));
}
