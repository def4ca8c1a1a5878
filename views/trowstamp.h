#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QAbstractItemView;
class QPainter;
class QRect;

// Paints rows of an item view with one real entry widget used as a stamp.
// The delegate fills the stamp with a row's data and calls paint(): the row
// then looks exactly as that entry widget would on the row, with the same
// form, style sheets and fonts, yet the view holds no widget per row. Only a
// row the user works with (an expanded contact, say) needs a widget of its
// own.
//
// The stamp is kept hidden under the view's viewport, where an item widget
// would sit, so the style sheets of the view and its window reach it the
// same way. Rendered rows are cached by a key the caller composes from what
// the row shows; rows without a key are rendered every time.
class TRowStamp
{
public:
    // Takes ownership of the stamp (through the viewport, its new parent).
    TRowStamp(QAbstractItemView *view, QWidget *stamp);
    ~TRowStamp();
    TRowStamp(const TRowStamp &) = delete;
    TRowStamp &operator=(const TRowStamp &) = delete;

    QWidget *widget() const { return stamp; }

    // The height a tree view gives a row carrying the stamp as its item
    // widget, when the delegate asks for delegateHeight: the widget's
    // preferred height held between its minimum and maximum, or the
    // delegate's if that is larger. Read it after filling the stamp.
    int rowHeight(int delegateHeight) const;

    // Draws the stamp, sized to rect, at rect. Call after filling the stamp
    // with the row's data; with a non-empty key, a row rendered earlier
    // under the same key and size is drawn from the cache instead.
    void paint(QPainter *painter, const QRect &rect, const QString &cacheKey = QString());

private:
    QPointer<QWidget> stamp;
    QString keyPrefix;
};
