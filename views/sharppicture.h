#pragma once

#include <QIcon>
#include <QLabel>
#include <QString>

// Shows the label's picture, which the form loaded from path, at the pixel
// ratio of the label's screen. A form loads a label's picture with QPixmap, which never takes the
// NAME@2x.png beside NAME.png, so on a screen with a ratio of 2 it would be
// drawn blown up; QIcon takes it, and the picture stays sharp. The label
// keeps the picture's size in logical pixels.
inline void showSharpPicture(QLabel *label, const QString &path)
{
    const QSize size = label->pixmap().deviceIndependentSize().toSize();
    if (!size.isEmpty())
        label->setPixmap(QIcon(path).pixmap(size, label->devicePixelRatioF()));
}
