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

// The picture at path, with the NAME@2x.png beside it where there is one,
// so that it stays sharp on a screen with a pixel ratio of 2.
inline QIcon sharpIcon(const QString &path)
{
    QIcon icon;
    for (const QString &file : {path, QString(path).insert(path.lastIndexOf(QLatin1Char('.')), QLatin1String("@2x"))}) {
        const QImage image = readPicture(file);
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

// Shows the picture at path on the label, at the pixel ratio of the label's
// screen and in the size of the form's picture, if the form gave the label
// one, or else the picture's own. A form loads a label's picture with
// QPixmap, which never takes the NAME@2x.png beside NAME.png, so on a screen
// with a ratio of 2 it would be drawn blown up.
inline void showSharpPicture(QLabel *label, const QString &path)
{
    const QIcon icon = sharpIcon(path);
    QSize size = label->pixmap().deviceIndependentSize().toSize();
    if (size.isEmpty() && !icon.availableSizes().isEmpty())
        size = icon.availableSizes().constFirst();
    if (!size.isEmpty())
        label->setPixmap(icon.pixmap(size, label->devicePixelRatioF()));
}
