#include "views/trowstamp.h"

#include <QAbstractItemView>
#include <QLayout>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>

TRowStamp::TRowStamp(QAbstractItemView *view, QWidget *stampWidget)
    : stamp(stampWidget)
    , keyPrefix(QStringLiteral("rowstamp:%1:").arg(quintptr(this), 0, 16))
{
    stamp->setParent(view->viewport());
    stamp->hide();
    stamp->ensurePolished();
}

TRowStamp::~TRowStamp()
{
    delete stamp;
}

int TRowStamp::rowHeight(int delegateHeight) const
{
    if (!stamp)
        return delegateHeight;
    const int widgetHeight = qBound(stamp->minimumHeight(), stamp->sizeHint().height(), stamp->maximumHeight());
    return qMax(delegateHeight, widgetHeight);
}

void TRowStamp::paint(QPainter *painter, const QRect &rect, const QString &cacheKey)
{
    if (!stamp || rect.isEmpty())
        return;
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QString key = cacheKey.isEmpty()
                            ? QString()
                            : keyPrefix + QString::number(rect.width()) + QLatin1Char('x') + QString::number(rect.height())
                                  + QLatin1Char('@') + QString::number(ratio) + QLatin1Char(':') + cacheKey;
    QPixmap row;
    if (key.isEmpty() || !QPixmapCache::find(key, &row)) {
        if (stamp->size() != rect.size())
            stamp->resize(rect.size());
        if (QLayout *layout = stamp->layout())
            layout->activate();
        row = QPixmap(rect.size() * ratio);
        row.setDevicePixelRatio(ratio);
        row.fill(Qt::transparent);
        // The children only: the row's background is the view's, as under a
        // transparent item widget.
        stamp->render(&row, QPoint(), QRegion(), QWidget::DrawChildren);
        if (!key.isEmpty())
            QPixmapCache::insert(key, row);
    }
    painter->drawPixmap(rect.topLeft(), row);
}
